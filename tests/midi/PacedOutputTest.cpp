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

struct Split {
  std::string name;
  Bytes message;
  std::size_t maxPieceBytes;
  Pieces pieces;
};

class SplitIntoPieces : public testing::TestWithParam<Split> {};

TEST_P(SplitIntoPieces, CutsNoPieceButTheLastAfterAnF7) {
  const Split& s = GetParam();
  EXPECT_EQ(midi::SplitIntoPieces(s.message.data(), s.message.size(), s.maxPieceBytes), s.pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Output, SplitIntoPieces,
    testing::Values(Split{"AMessageThatFitsGoesWhole", {0xF0, 1, 2, 0xF7}, 4, {{0, 4}}},
                    Split{"ALongOneGoesInPiecesOfTheLimit", {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}, 4,
                          {{0, 4}, {4, 8}, {8, 10}}},
                    // (0, 3) would end on the F7 at 2, so the piece ends one earlier.
                    Split{"APieceStopsShortOfAnF7", {0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, 3, {{0, 2}, {2, 5}, {5, 6}}},
                    Split{"OnlyF7sCannotBeHelped", {0xF7, 0xF7, 0xF7}, 1, {{0, 1}, {1, 2}, {2, 3}}},
                    Split{"NothingMakesNoPiece", {}, 4, {}}),
    [](const testing::TestParamInfo<Split>& p) { return p.param.name; });

// Records what the MIDI system was given, and when.
struct Recorder {
  std::mutex mutex;
  std::vector<Bytes> pieces;
  std::vector<std::chrono::steady_clock::time_point> times;
  int refuseCall = -1;  // 0-based call to refuse
  bool Take(const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex);
    const int call = static_cast<int>(pieces.size());
    pieces.emplace_back(data, data + size);
    times.push_back(std::chrono::steady_clock::now());
    return call != refuseCall;
  }
};

TEST(PacedOutput, BlocksLeaveWholeAndInOrderWhileTheCallersBufferIsFreeAtOnce) {
  Recorder r;
  midi::PacedOutput line([&](const std::uint8_t* d, std::size_t n) { return r.Take(d, n); }, 100,
                         std::chrono::nanoseconds(0));
  Bytes buffer = {0xF0, 1, 2, 0xF7};
  line.Send(buffer.data(), buffer.size());
  buffer = {0xF0, 9, 0xF7};  // the next block into the same buffer at once
  line.Send(buffer.data(), buffer.size());
  EXPECT_TRUE(line.Finish(std::chrono::seconds(10)));
  EXPECT_EQ(r.pieces, (std::vector<Bytes>{{0xF0, 1, 2, 0xF7}, {0xF0, 9, 0xF7}}));
  EXPECT_EQ(line.LostBytes(), 0u);
  EXPECT_FALSE(line.TakeFailure());
}

TEST(PacedOutput, PiecesLeaveNoFasterThanAMidiLineCarriesThem) {
  Recorder r;
  // A slow line of 1 ms a byte, so that the spacing is well above any timer's grain.
  midi::PacedOutput line([&](const std::uint8_t* d, std::size_t n) { return r.Take(d, n); }, 20,
                         std::chrono::milliseconds(1));
  const Bytes block(50, 0x11);  // pieces of 20, 20 and 10 bytes
  line.Send(block.data(), block.size());
  line.Send(block.data(), 5);
  ASSERT_TRUE(line.Finish(std::chrono::seconds(10)));
  ASSERT_EQ(r.times.size(), 4u);
  // Less a millisecond for the moment between the line's reading of the clock and the
  // recorder's.
  EXPECT_GE(r.times[1] - r.times[0], std::chrono::milliseconds(19));
  EXPECT_GE(r.times[2] - r.times[1], std::chrono::milliseconds(19));
  EXPECT_GE(r.times[3] - r.times[2], std::chrono::milliseconds(9));
}

TEST(PacedOutput, ARefusedPieceLosesTheRestOfItsBlockAndIsToldOnce) {
  Recorder r;
  r.refuseCall = 1;  // the second piece of the first block
  midi::PacedOutput line([&](const std::uint8_t* d, std::size_t n) { return r.Take(d, n); }, 4,
                         std::chrono::nanoseconds(0));
  const Bytes first = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7};
  const Bytes second = {0xF0, 9, 0xF7};
  line.Send(first.data(), first.size());
  line.Send(second.data(), second.size());
  ASSERT_TRUE(line.Finish(std::chrono::seconds(10)));
  EXPECT_EQ(line.LostBytes(), 6u) << "bytes 4 to 9 of the first block";
  EXPECT_EQ(r.pieces.back(), second) << "the next block still goes";
  EXPECT_TRUE(line.TakeFailure());
  EXPECT_FALSE(line.TakeFailure());
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
