// The sending side of an output port: parts of a block for JACK's cycles, order and
// copies, losses told, and a MIDI system that stops taking data.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "midi/PacedOutput.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Output, NoPartButTheLastOfABlockEndsInAnF7) {
  const struct {
    Bytes left;  // what is left of the block
    std::size_t room;
    bool firstOfCycle;
    std::size_t part;
  } cases[] = {{{0xF0, 1, 2, 0xF7}, 4, false, 4},                 // the rest fits: whole
               {{0xF0, 1, 2, 3, 4, 5, 0xF7}, 4, true, 4},         // the room's worth
               {{0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, 3, true, 2},      // (0, 3) would end on the F7 at 2
               {{0xF7, 0xF0, 2, 0xF7}, 1, false, 0},              // a lone F7 waits for room ...
               {{0xF7, 0xF0, 2, 0xF7}, 1, true, 1},               // ... unless the cycle is new
               {{0xF7, 0xF7, 0xF7}, 2, true, 1},                  // only F7s cannot be helped
               {{0xF0, 1, 0xF7}, 0, true, 0}};                    // no room
  for (const auto& c : cases) {
    const auto at = [&c](std::size_t i) { return c.left.at(i); };
    EXPECT_EQ(midi::PartLength(at, c.room, c.left.size(), c.firstOfCycle), c.part)
        << c.left.size() << " bytes left, room for " << c.room;
  }
}

// Records what the MIDI system was given (on the sender thread).
struct Recorder {
  std::mutex mutex;
  std::vector<Bytes> pieces;
  int refuseCall = -1;  // 0-based call to refuse
  bool Take(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex);
    pieces.emplace_back(data, data + size);
    return static_cast<int>(pieces.size()) - 1 != refuseCall;
  }
};

TEST(PacedOutput, BlocksLeaveInOrderFromCopiesAndARefusedOneIsCountedLost) {
  Recorder r;
  r.refuseCall = 0;  // the first block
  midi::PacedOutput line([&](const std::uint8_t* d, std::size_t n) { return r.Take(d, n); },
                         std::chrono::nanoseconds(0));
  Bytes buffer = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7};
  line.Send(buffer.data(), buffer.size());
  buffer = {0xF0, 9, 0xF7};  // the next block into the same buffer at once
  line.Send(buffer.data(), buffer.size());
  ASSERT_TRUE(line.Finish(std::chrono::seconds(10)));
  EXPECT_EQ(r.pieces, (std::vector<Bytes>{{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}, {0xF0, 9, 0xF7}}));
  EXPECT_EQ(line.LostBytes(), 10u) << "the first block";
  EXPECT_TRUE(line.TakeFailure());
  EXPECT_FALSE(line.TakeFailure()) << "told once";
}

TEST(PacedOutput, BlocksLeaveNoFasterThanTheLineAndTheDrainTimeSaysWhenTheLastHasGone) {
  using namespace std::chrono;
  std::vector<steady_clock::time_point> handed;
  // 1 ms a byte: two blocks of 20 bytes take 40 ms on the line.
  midi::PacedOutput line([&](const std::uint8_t*, std::size_t) { return handed.push_back(steady_clock::now()), true; },
                         milliseconds(1));
  const Bytes block(20, 0x11);
  const auto start = steady_clock::now();
  line.Send(block.data(), block.size());
  line.Send(block.data(), block.size());
  const auto drain = line.DrainTime();
  EXPECT_LE(drain, milliseconds(40));
  EXPECT_GE(drain, milliseconds(40) - (steady_clock::now() - start));
  ASSERT_TRUE(line.Finish(seconds(10)));
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_GE(handed[1] - handed[0], milliseconds(20)) << "the second block waits for the line";
}

TEST(PacedOutput, FinishGivesUpOnAMidiSystemThatTakesNothingAndCountsWhatWasLeft) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  midi::PacedOutput line(
      [released](const std::uint8_t*, std::size_t) {
        released.wait();
        return true;
      },
      std::chrono::nanoseconds(0));
  const Bytes block = {0xF0, 1, 2, 0xF7};
  line.Send(block.data(), block.size());
  line.Send(block.data(), block.size());
  EXPECT_FALSE(line.Finish(std::chrono::milliseconds(50)));
  EXPECT_EQ(line.LostBytes(), 8u) << "the block stuck in the system and the one behind it";
  EXPECT_TRUE(line.TakeFailure());
  release.set_value();  // lets the sender end, so the line can be destroyed
}

}  // namespace
