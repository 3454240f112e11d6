// Standard MIDI Files: SysEx out of .mid files made here by hand and .mid files written
// from raw bytes (`vezorizer-cli convert` as a user runs it: the command line's table).
#include <gtest/gtest.h>

#include "cli/StandardMidiFile.h"
#include "support/ParserRig.h"

namespace {

using cli::ByteString;

ByteString Chunk(const char* type, const ByteString& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  const ByteString length = {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
  return Cat({ByteString(type, type + 4), length, body});
}

// Header chunk: format, track count, 480 ticks a quarter.
ByteString Header(std::uint8_t format, std::uint8_t tracks) { return Chunk("MThd", {0, format, 0, tracks, 0x01, 0xE0}); }
ByteString Track(const ByteString& events) { return Chunk("MTrk", events); }
const ByteString kEnd = {0x00, 0xFF, 0x2F, 0x00};

struct ReadCase {
  const char* name;
  ByteString file;
  ByteString sysex;
  std::optional<std::uint64_t> faultAt;  // the offset a malformed file is refused at
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class SmfRead : public testing::TestWithParam<ReadCase> {};

TEST_P(SmfRead, GivesTheSysexInTimeOrderOrTheOffsetOfTheFault) {
  const cli::SmfReadResult r = cli::ReadSysexFromSmf(GetParam().file);
  if (GetParam().faultAt) {
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->offset, *GetParam().faultAt) << r.error->reason;
  } else {
    ASSERT_FALSE(r.error) << r.error->offset << ": " << r.error->reason;
    EXPECT_EQ(r.sysex.bytes, GetParam().sysex);
  }
}

// A malformed file: the header takes bytes 0-13; a first track's header 14-21, its events from 22.
INSTANTIATE_TEST_SUITE_P(
    Files, SmfRead,
    testing::Values(
        // Notes, a track name, program changes (one data byte): skipped, also where the
        // running status goes on across the meta and SysEx events.
        ReadCase{"ChannelAndMetaEventsAreSkippedUnderRunningStatus",
                 Cat({Header(0, 1), Track(Cat({{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3E, 0x40, 0x00, 0xFF, 0x03, 0x02, 'M', 'C'},
                                               {0x00, 0x3E, 0x40, 0x00, 0xF0, 0x03, 0x41, 0x10, 0xF7, 0x00, 0x3E, 0x00},
                                               {0x00, 0xC0, 0x05, 0x00, 0x06, 0x00, 0xF0, 0x02, 0x42, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0x10, 0xF7, 0xF0, 0x42, 0xF7}, std::nullopt},
        // Track 2: 0x42 at 100, 0x44 at 300 (delta 81 48 = 200). Track 3: 0x41 at 50,
        // 0x43 at 100 (after track 2's), 0x45 begun at 150 and ended at 350, so it
        // stays whole and before 0x44.
        ReadCase{"FormatOneTracksMergeByTimeAndKeepSplitSysexWhole",
                 Cat({Header(1, 3), Track(Cat({{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, kEnd})),
                      Track(Cat({{0x64, 0xF0, 0x02, 0x42, 0xF7, 0x81, 0x48, 0xF0, 0x02, 0x44, 0xF7}, kEnd})),
                      Track(Cat({{0x32, 0xF0, 0x02, 0x41, 0xF7, 0x32, 0xF0, 0x02, 0x43, 0xF7},
                                 {0x32, 0xF0, 0x01, 0x45, 0x81, 0x48, 0xF7, 0x01, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF7, 0xF0, 0x43, 0xF7, 0xF0, 0x45, 0xF7, 0xF0, 0x44, 0xF7},
                 std::nullopt},
        // Format 2: the second track's 0x42 at 10 still follows the first's 0x41 at 100;
        // a chunk of an unknown type between them is skipped.
        ReadCase{"FormatTwoTracksFollowEachOtherAndForeignChunksAreSkipped",
                 Cat({Header(2, 2), Track(Cat({{0x64, 0xF0, 0x02, 0x41, 0xF7}, kEnd})), Chunk("XFIH", {0xF0, 0x43, 0xF7}),
                      Track(Cat({{0x0A, 0xF0, 0x02, 0x42, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF7}, std::nullopt},
        ReadCase{"HeaderCutShort", {'M', 'T', 'h', 'd', 0, 0, 0}, {}, 0},
        ReadCase{"TrackLengthPastTheEnd", Cat({Header(0, 1), {'M', 'T', 'r', 'k', 0, 0, 0, 0x10}, kEnd}), {}, 14},
        ReadCase{"DeltaOfFiveBytes", Cat({Header(0, 1), Track({0x81, 0x81, 0x81, 0x81, 0x01, 0xF0})}), {}, 22},
        ReadCase{"DataByteWithoutRunningStatus", Cat({Header(0, 1), Track({0x00, 0x3C, 0x40})}), {}, 23}),
    [](const auto& p) { return p.param.name; });

TEST(SmfWrite, MessagesBecomeF0EventsAndOtherBytesEscapeEvents) {
  // Active sensing, a message, one cut off by the next 0xF0, a message, a stray byte.
  const ByteString syx = {0xFE, 0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF0, 0x43, 0xF7, 0x05};
  ByteString mid;
  ASSERT_FALSE(cli::WriteSysexAsSmf(syx, 200, mid));
  // 200 ms = 192 ticks = 1 * 128 + 64: delta 81 40. Track: 7 (tempo 500000 us =
  // 07 A1 20) + 4 + 5 + 5 + 6 + 4 + 4 (end) = 35 = 0x23 bytes.
  const ByteString expected = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0x23,
                               0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xF7, 0x01, 0xFE,
                               0x00, 0xF0, 0x02, 0x41, 0xF7, 0x81, 0x40, 0xF0, 0x01, 0x42,
                               0x81, 0x40, 0xF0, 0x02, 0x43, 0xF7, 0x00, 0xF7, 0x01, 0x05, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(mid, expected);
}

}  // namespace
