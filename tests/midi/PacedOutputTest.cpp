// The sending side of an output port: pieces for a MIDI system with a message limit,
// order and copies, losses told, and a MIDI system that stops taking data.
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
using Pieces = std::vector<std::pair<std::size_t, std::size_t>>;

TEST(Output, SplitIntoPiecesCutsNoPieceButTheLastAfterAnF7) {
  const struct {
    Bytes message;
    std::size_t maxPieceBytes;
    Pieces pieces;
  } cases[] = {{{0xF0, 1, 2, 0xF7}, 4, {{0, 4}}},  // a message that fits goes whole
               {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}, 4, {{0, 4}, {4, 8}, {8, 10}}},
               // (0, 3) would end on the F7 at 2, so the piece ends one earlier.
               {{0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, 3, {{0, 2}, {2, 5}, {5, 6}}},
               {{0xF7, 0xF7, 0xF7}, 1, {{0, 1}, {1, 2}, {2, 3}}},  // only F7s cannot be helped
               {{}, 4, {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(midi::SplitIntoPieces(c.message.data(), c.message.size(), c.maxPieceBytes), c.pieces)
        << c.message.size() << " bytes in pieces of " << c.maxPieceBytes;
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

TEST(PacedOutput, BlocksLeaveInOrderFromCopiesAndARefusedPieceLosesTheRestOfItsBlock) {
  Recorder r;
  r.refuseCall = 1;  // the second piece of the first block
  midi::PacedOutput line([&](const std::uint8_t* d, std::size_t n) { return r.Take(d, n); }, 4,
                         std::chrono::nanoseconds(0));
  Bytes buffer = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7};
  line.Send(buffer.data(), buffer.size());
  buffer = {0xF0, 9, 0xF7};  // the next block into the same buffer at once
  line.Send(buffer.data(), buffer.size());
  ASSERT_TRUE(line.Finish(std::chrono::seconds(10)));
  EXPECT_EQ(r.pieces, (std::vector<Bytes>{{0xF0, 1, 2, 3}, {4, 5, 6, 7}, {0xF0, 9, 0xF7}}));
  EXPECT_EQ(line.LostBytes(), 6u) << "bytes 4 to 9 of the first block";
  EXPECT_TRUE(line.TakeFailure());
  EXPECT_FALSE(line.TakeFailure()) << "told once";
}

TEST(PacedOutput, FinishGivesUpOnAMidiSystemThatTakesNothingAndCountsWhatWasLeft) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  midi::PacedOutput line(
      [released](const std::uint8_t*, std::size_t) {
        released.wait();
        return true;
      },
      100, std::chrono::nanoseconds(0));
  const Bytes block = {0xF0, 1, 2, 0xF7};
  line.Send(block.data(), block.size());
  line.Send(block.data(), block.size());
  EXPECT_FALSE(line.Finish(std::chrono::milliseconds(50)));
  EXPECT_EQ(line.LostBytes(), 8u) << "the block stuck in the system and the one behind it";
  EXPECT_TRUE(line.TakeFailure());
  release.set_value();  // lets the sender end, so the line can be destroyed
}

}  // namespace
