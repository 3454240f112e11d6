// Standard MIDI Files: SysEx out of .mid files made here by hand, .mid files written
// from raw bytes, and `vezorizer-cli convert` run as a user runs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "cli/StandardMidiFile.h"
#include "support/RunCli.h"

namespace {

using cli::ByteString;

ByteString Cat(std::initializer_list<ByteString> parts) {
  ByteString out;
  for (const ByteString& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ByteString Chunk(const char* type, const ByteString& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  ByteString c(type, type + 4);
  c.insert(c.end(), {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
  return Cat({c, body});
}

// Header chunk: format, track count, 480 ticks a quarter.
ByteString Header(std::uint8_t format, std::uint8_t tracks) { return Chunk("MThd", {0, format, 0, tracks, 0x01, 0xE0}); }
ByteString Track(const ByteString& events) { return Chunk("MTrk", events); }
const ByteString kEnd = {0x00, 0xFF, 0x2F, 0x00};

struct ReadCase {
  const char* name;
  ByteString file;
  ByteString sysex;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class SmfRead : public testing::TestWithParam<ReadCase> {};

TEST_P(SmfRead, SysexComesOutInTimeOrderByteForByte) {
  const cli::SmfReadResult r = cli::ReadSysexFromSmf(GetParam().file);
  ASSERT_FALSE(r.error) << r.error->offset << ": " << r.error->reason;
  EXPECT_EQ(r.sysex.bytes, GetParam().sysex);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SmfRead,
    testing::Values(
        // Notes, a track name, program changes (one data byte): skipped, also where the
        // running status goes on across the meta and SysEx events.
        ReadCase{"ChannelAndMetaEventsAreSkippedUnderRunningStatus",
                 Cat({Header(0, 1), Track(Cat({{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3E, 0x40, 0x00, 0xFF, 0x03, 0x02, 'M', 'C'},
                                               {0x00, 0x3E, 0x40, 0x00, 0xF0, 0x03, 0x41, 0x10, 0xF7, 0x00, 0x3E, 0x00},
                                               {0x00, 0xC0, 0x05, 0x00, 0x06, 0x00, 0xF0, 0x02, 0x42, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0x10, 0xF7, 0xF0, 0x42, 0xF7}},
        ReadCase{"ASplitSysexIsJoinedAcrossAMetaEvent",
                 Cat({Header(0, 1), Track(Cat({{0x00, 0xF0, 0x03, 0x41, 0x10, 0x00, 0x10, 0xFF, 0x01, 0x00},
                                               {0x10, 0xF7, 0x02, 0x03, 0x12, 0x10, 0xF7, 0x02, 0x40, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0xF7}},
        // An F7 event with no SysEx open is an escape: its bytes as they stand.
        ReadCase{"EscapeEventsCarryTheirBytesAlone",
                 Cat({Header(0, 1), Track(Cat({{0x00, 0xF7, 0x01, 0xFE, 0x00, 0xF0, 0x02, 0x41, 0xF7},
                                               {0x00, 0xF7, 0x02, 0xFE, 0xFE}, kEnd}))}),
                 {0xFE, 0xF0, 0x41, 0xF7, 0xFE, 0xFE}},
        // Track 2: 0x42 at 100, 0x44 at 300 (delta 81 48 = 200). Track 3: 0x41 at 50,
        // 0x43 at 100 (after track 2's), 0x45 begun at 150 and ended at 350, so it
        // stays whole and before 0x44.
        ReadCase{"FormatOneTracksMergeByTimeAndKeepSplitSysexWhole",
                 Cat({Header(1, 3), Track(Cat({{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, kEnd})),
                      Track(Cat({{0x64, 0xF0, 0x02, 0x42, 0xF7, 0x81, 0x48, 0xF0, 0x02, 0x44, 0xF7}, kEnd})),
                      Track(Cat({{0x32, 0xF0, 0x02, 0x41, 0xF7, 0x32, 0xF0, 0x02, 0x43, 0xF7},
                                 {0x32, 0xF0, 0x01, 0x45, 0x81, 0x48, 0xF7, 0x01, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF7, 0xF0, 0x43, 0xF7, 0xF0, 0x45, 0xF7, 0xF0, 0x44, 0xF7}},
        ReadCase{"FormatTwoSequencesFollowOneAnother",
                 Cat({Header(2, 2), Track(Cat({{0x64, 0xF0, 0x02, 0x41, 0xF7}, kEnd})),
                      Track(Cat({{0x00, 0xF0, 0x02, 0x42, 0xF7}, kEnd}))}),
                 {0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF7}},
        // A longer header, SMPTE division, a foreign chunk, bytes after the end of track.
        ReadCase{"TheFormatsRoomForGrowthIsSkipped",
                 Cat({Chunk("MThd", {0, 0, 0, 1, 0xE7, 0x28, 0xAA, 0xBB}), Chunk("XFIH", {1, 2, 3}),
                      Track(Cat({{0x00, 0xF0, 0x02, 0x41, 0xF7}, kEnd, {0xF4, 0x00}}))}),
                 {0xF0, 0x41, 0xF7}}),
    [](const auto& p) { return p.param.name; });

struct BadCase {
  const char* name;
  ByteString file;
  std::uint64_t offset;
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class SmfMalformed : public testing::TestWithParam<BadCase> {};

TEST_P(SmfMalformed, IsRefusedWithTheOffsetOfTheFault) {
  const cli::SmfReadResult r = cli::ReadSysexFromSmf(GetParam().file);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->offset, GetParam().offset) << r.error->reason;
}

// The header takes bytes 0-13; a first track's header 14-21, its events from 22.
INSTANTIATE_TEST_SUITE_P(
    Files, SmfMalformed,
    testing::Values(BadCase{"HeaderCutShort", {'M', 'T', 'h', 'd', 0, 0, 0}, 0},
                    BadCase{"TrackLengthPastTheEnd", Cat({Header(0, 1), {'M', 'T', 'r', 'k', 0, 0, 0, 0x10}, kEnd}), 14},
                    BadCase{"ChunkHeaderCutShort", Cat({Header(0, 1), Track(kEnd), {'M', 'T', 'r'}}), 26},
                    BadCase{"FewerTracksThanAnnounced", Cat({Header(1, 2), Track(kEnd)}), 26},
                    BadCase{"DeltaOfFiveBytes", Cat({Header(0, 1), Track({0x81, 0x81, 0x81, 0x81, 0x01, 0xF0})}), 22},
                    BadCase{"SysexLengthPastTheTrack", Cat({Header(0, 1), Track(Cat({{0x00, 0xF0, 0x10, 0x41}, kEnd}))}), 24},
                    BadCase{"DataByteWithoutRunningStatus", Cat({Header(0, 1), Track({0x00, 0x3C, 0x40})}), 23}),
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

TEST(SmfWrite, RoundingOfTheIntervalDoesNotAddUp) {
  ByteString syx, mid;
  for (int i = 0; i < 26; ++i) syx.insert(syx.end(), {0xF0, 0xF7});
  ASSERT_FALSE(cli::WriteSysexAsSmf(syx, 1, mid));
  // Events (delta, F0, 01, F7) start after 22 header bytes and the 7-byte tempo event.
  // Message k stands at 0.96 k ticks rounded: 11.52 and 12.48 both give 12, and 25 ms
  // are exactly 24 ticks, so the deltas are 0, twelve 1s, 0, twelve 1s.
  ByteString deltas;
  for (std::size_t pos = 29; mid[pos + 1] == 0xF0; pos += 4) deltas.push_back(mid[pos]);
  ByteString expected(26, 1);
  expected[0] = expected[13] = 0;
  EXPECT_EQ(deltas, expected);
}

TEST(SmfWrite, AnyBytesComeBackUnchanged) {
  // Streams heavy in 0xF0, 0xF7 and 0xFE: cut-off messages, empty ones, stray runs.
  const std::uint8_t alphabet[] = {0xF0, 0xF7, 0xFE, 0x41, 0x00, 0x7F, 0x90};
  std::mt19937 random(303);
  for (int round = 0; round < 300; ++round) {
    ByteString syx(random() % 40 + 1), mid;
    for (auto& b : syx) b = alphabet[random() % sizeof alphabet];
    ASSERT_FALSE(cli::WriteSysexAsSmf(syx, 200, mid));
    const cli::SmfReadResult r = cli::ReadSysexFromSmf(mid);
    ASSERT_FALSE(r.error) << r.error->reason;
    ASSERT_EQ(r.sysex.bytes, syx) << "round " << round;
  }
}

class Convert : public testing::Test {
 protected:
  void SetUp() override { dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::ptrdiff_t FilesInDir() const { return std::distance(std::filesystem::directory_iterator(dir_), {}); }
  std::filesystem::path dir_;
};

TEST_F(Convert, TheExampleDumpComesBackByteForByte) {
  const std::string demo = std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx";
  const CliRun there = RunCli({"convert", demo, "demo.MID"}, dir_);
  ASSERT_EQ(there.status, 0) << there.err;
  const CliRun back = RunCli({"convert", "demo.MID", "demo.syx"}, dir_);
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(Slurp(dir_ / "demo.syx"), Slurp(demo));
}

TEST_F(Convert, AMalformedFileNamesItsOffsetAndLeavesTheTargetAlone) {
  WriteBytes(dir_ / "bad.mid", Cat({Header(0, 1), Track({0x81, 0x81, 0x81, 0x81, 0x01, 0xF0})}));
  WriteBytes(dir_ / "out.syx", {0x01});
  const CliRun r = RunCli({"convert", "bad.mid", "out.syx"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.mid: not a readable Standard MIDI File: at byte offset 22"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir_ / "out.syx"), "\x01");
  EXPECT_EQ(FilesInDir(), 2);
}

TEST_F(Convert, DirectionsThatMakeNoSenseAndEmptyResultsAreRefused) {
  WriteBytes(dir_ / "a.syx", {0xF0, 0x41, 0xF7});
  WriteBytes(dir_ / "a.mid", Cat({Header(0, 1), Track(kEnd)}));
  // Raw in and raw out, a .mid in and a .mid out, a file onto itself; a .mid without SysEx.
  const struct {
    std::string in, out;
    int status;
  } cases[] = {{"a.syx", "b.syx", 2}, {"a.mid", "b.midi", 2}, {"a.syx", "a.syx", 2}, {"a.mid", "b.syx", 1}};
  for (const auto& c : cases) {
    const CliRun r = RunCli({"convert", c.in, c.out}, dir_);
    EXPECT_EQ(r.status, c.status) << c.in << " -> " << c.out << ": " << r.err;
    EXPECT_NE(r.err.find(c.in), std::string::npos) << r.err;
  }
  EXPECT_EQ(FilesInDir(), 2);
}

}  // namespace
