// Standard MIDI Files: SysEx out of .mid files made here by hand, .mid files written from
// raw bytes, and what common readers make of them (`vezorizer-cli convert`'s round trips
// and refusals are rows of the command line's table).
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <tuple>

#include "DumpGenerator.h"
#include "smf/StandardMidiFile.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"

// Heap bytes in use, counted while `counting` is set: what reading a MIDI file costs.
std::atomic<bool> counting{false};
std::atomic<std::int64_t> liveBytes{0}, peakBytes{0};

void* operator new(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  if (counting) {
    const std::int64_t now = liveBytes += static_cast<std::int64_t>(malloc_usable_size(p));
    for (std::int64_t peak = peakBytes; now > peak && !peakBytes.compare_exchange_weak(peak, now);) {
    }
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (p != nullptr && counting) liveBytes -= static_cast<std::int64_t>(malloc_usable_size(p));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace {

using smf::ByteString;

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
  const smf::SmfReadResult r = smf::ReadSysexFromSmf(GetParam().file);
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

// A file of tiny events, on one track or on many, costs at most about twice its size:
// the file itself and what is gathered out of it. Each of the many tracks holds a
// message in two parts of 100 bytes, then 50 tiny ones at the same time; the later
// tracks' come earlier, the ticks running 100 down to 1 twenty times.
TEST(SmfRead, TakesAtMostAboutTwiceTheFileInMemory) {
  for (const bool manyTracks : {false, true}) {
    ByteString file = Header(manyTracks ? 1 : 0, 1), expected, track;
    const auto tiny = [](ByteString& out, int count, const ByteString& each) {
      for (int i = 0; i < count; ++i) out.insert(out.end(), each.begin(), each.end());
    };
    const auto addTrack = [&file](const ByteString& events) {
      const ByteString chunk = Track(Cat({events, kEnd}));
      file.insert(file.end(), chunk.begin(), chunk.end());
    };
    if (manyTracks) {
      const ByteString part1(99, 0x41), part2(99, 0x42);
      const ByteString output = Cat({{0xF0}, part1, part2, {0xF7}});
      for (int t = 0; t < 2000; ++t) {
        track = Cat({{static_cast<std::uint8_t>(100 - t % 100), 0xF0, 99}, part1, {0x00, 0xF7, 100}, part2, {0xF7}});
        tiny(track, 50, {0x00, 0xF0, 0x01, 0xF7});
        addTrack(track);
        // Tracks of one tick are alike, so the order among them does not show here.
        expected.insert(expected.end(), output.begin(), output.end());
        tiny(expected, 50, {0xF0, 0xF7});
      }
    } else {
      tiny(track, 1 << 18, {0x00, 0xF0, 0x01, 0xF7});
      addTrack(track);
      tiny(expected, 1 << 18, {0xF0, 0xF7});
    }
    const auto size = static_cast<std::int64_t>(file.size());
    liveBytes = peakBytes = static_cast<std::int64_t>(malloc_usable_size(file.data()));
    counting = true;
    const smf::SmfReadResult r = smf::ReadSysexFromSmf(std::move(file));
    counting = false;
    EXPECT_EQ(r.sysex.bytes, expected);
    // The tiny events cost over twenty times the file before.
    EXPECT_LE(peakBytes, size * 21 / 10 + 65536) << size << " bytes, " << (manyTracks ? "many tracks" : "one track");
  }
}

TEST(SmfWrite, MessagesBecomeF0EventsAndOtherBytesAreLeftOutOrKeptAsEscapeEvents) {
  // Active sensing, a message, one cut off by the next 0xF0, a message, a stray byte.
  const ByteString syx = {0xFE, 0xF0, 0x41, 0xF7, 0xF0, 0x42, 0xF0, 0x43, 0xF7, 0x05};
  ByteString mid;
  ASSERT_FALSE(smf::WriteSysexAsSmf(syx, {200, true}, mid).error);
  // 200 ms = 192 ticks = 1 * 128 + 64: delta 81 40. Track: 7 (tempo 500000 us =
  // 07 A1 20) + 4 + 5 + 5 + 6 + 4 + 4 (end) = 35 = 0x23 bytes.
  const ByteString head = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0};
  const ByteString tempo = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
  EXPECT_EQ(mid, Cat({head, {0x23}, tempo, {0x00, 0xF7, 0x01, 0xFE, 0x00, 0xF0, 0x02, 0x41, 0xF7, 0x81, 0x40},
                      {0xF0, 0x01, 0x42, 0x81, 0x40, 0xF0, 0x02, 0x43, 0xF7, 0x00, 0xF7, 0x01, 0x05}, kEnd}));

  // Left out: 0xFE, the clock inside the message, the 0x90 that cuts 0x44 off on the
  // wire and what follows it up to the next 0xF0, and the 0x05.
  const ByteString wire = {0xFE, 0xF0, 0x41, 0xF8, 0xF7, 0xF0, 0x44, 0x90, 0x3C, 0xF7, 0xF0, 0x43, 0xF7, 0x05};
  const smf::SmfWriteResult r = smf::WriteSysexAsSmf(wire, {200, false}, mid);
  EXPECT_EQ(r.messages, 3u);
  EXPECT_EQ(r.leftOutBytes, 6u);
  EXPECT_EQ(mid, Cat({head, {0x1B}, tempo, {0x00, 0xF0, 0x02, 0x41, 0xF7, 0x81, 0x40, 0xF0, 0x01, 0x44},
                      {0x81, 0x40, 0xF0, 0x02, 0x43, 0xF7}, kEnd}));
}

TEST(SmfWrite, EveryMessageStaysWithinHalfATickOfItsExactTimeOverALongFile) {
  constexpr std::uint64_t kMessages = 30000;
  ByteString syx;
  for (std::uint64_t k = 0; k < kMessages; ++k) syx.insert(syx.end(), {0xF0, 0x41, 0xF7});
  for (const int interval : {1, 7, 3600000}) {
    ByteString mid;
    ASSERT_FALSE(smf::WriteSysexAsSmf(syx, {interval, false}, mid).error);
    std::size_t pos = 29;  // past the header, the track's header and the tempo event
    std::uint64_t tick = 0;
    for (std::uint64_t k = 0; k < kMessages; ++k, pos += 4) {  // F0 02 41 F7
      std::uint64_t delta = 0;
      do delta = (delta << 7) | (mid[pos] & 0x7Fu);
      while ((mid[pos++] & 0x80) != 0);
      tick += delta;
      // 1 ms is 24/25 of a tick: 25 * tick within 12.5 of 24 * ms.
      const std::uint64_t exact = k * static_cast<std::uint64_t>(interval) * 24;
      ASSERT_LE(std::max(tick * 25, exact) - std::min(tick * 25, exact), 12u) << interval << " ms, message " << k;
    }
  }
}

// Each reader prints the SysEx it loads from $1 in hex, every message from 0xF0 to 0xF7.
struct Reader {
  const char* name;
  std::string script;
};
const std::string kCsvSysex =
    R"( | awk -F', ' '$3 == "System_exclusive" { printf "f0"; for (i = 5; i <= NF; i++) printf "%02x", $i }')";
const Reader kReaders[] = {
    {"mido", R"(/usr/bin/python3 -c 'import mido, sys
f = mido.MidiFile(sys.argv[1])
print("".join(bytes(m.bytes()).hex() for t in f.tracks for m in t if m.type == "sysex"), end="")' "$1")"},
    // libsmf shows no SysEx bytes: what it saves again must hold them all.
    {"libsmf", R"(printf 'save libsmf.mid\n' | smfsh "$1" >/dev/null 2>&1 && midicsv libsmf.mid)" + kCsvSysex},
    {"midicsv", R"(midicsv "$1")" + kCsvSysex}};

void PrintTo(const Reader& r, std::ostream* os) { *os << r.name; }

class SmfReaders : public testing::TestWithParam<std::tuple<Reader, bool>> {};

// The example dump, with active sensing between messages, and a generated dump of every
// slot with longer patterns and timing clock inside messages too.
TEST_P(SmfReaders, LoadEveryMessageOfAConvertedDumpAndNothingElse) {
  const auto& [reader, example] = GetParam();
  const auto dir = FreshDir(reader.name);
  const std::string in = example ? std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx" : (dir / "all.syx").string();
  if (!example) {
    ByteString dump = dumpgen::GenerateDump({.seed = 16, .minPatternBytes = 1200, .maxPatternBytes = 2432});
    for (std::size_t i = 300; i < dump.size(); i += 333) dump.insert(dump.begin() + std::ptrdiff_t(i), 0xF8);
    WriteBytes(in, dump);
  }
  std::string expected;  // in hex, less the real-time bytes
  for (const char c : Slurp(in)) {
    if (c != '\xFE' && c != '\xF8') expected += {"0123456789abcdef"[(c >> 4) & 15], "0123456789abcdef"[c & 15]};
  }
  const CliRun r = RunCli({"convert", in, "dump.mid"}, dir);
  ASSERT_EQ(r.status, 0);
  const std::string realTime = std::to_string(Slurp(in).size() - expected.size() / 2);
  EXPECT_NE(r.err.find(": left out " + realTime + " bytes that are not SysEx data"), std::string::npos) << r.err;
  const std::string cmd =
      "cd " + ShellQuote(dir.string()) + " && sh -c " + ShellQuote(reader.script) + " sh dump.mid > out.hex";
  (void)std::system(cmd.c_str());
  const std::string got = Slurp(dir / "out.hex");
  EXPECT_TRUE(got == expected) << got.size() / 2 << " of " << expected.size() / 2 << " bytes";
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Files, SmfReaders, testing::Combine(testing::ValuesIn(kReaders), testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) +
                                  (std::get<1>(p.param) ? "_Example" : "_Clock");
                         });

}  // namespace
