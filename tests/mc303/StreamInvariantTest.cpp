// Over generated streams with every kind of damage, every byte fed other than 0xFE and
// 0xF8 ends in exactly one place (one piece or the pending bytes), and the output log
// holds the stream less those two bytes.
#include <gtest/gtest.h>

#include <random>

#include "DumpGenerator.h"
#include "support/ParserRig.h"

namespace {

Bytes Message(std::uint8_t a0, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3, std::size_t n, std::mt19937& rng) {
  Bytes data(n);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng() % 128);
  const std::uint8_t address[4] = {a0, a1, a2, a3};
  return dumpgen::DataSetMessage(0x10, address, data);
}

// A dump-like stream where about half the messages are damaged in one way or another.
Bytes NoisyStream(std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  std::vector<Bytes> sent;
  for (int i = 0; i < 400; ++i) {
    const int slot = static_cast<int>(rng() % 50);
    Bytes m = rng() % 3 == 0 ? Message(0x14, static_cast<std::uint8_t>(slot), 0, 0, rng() % 60, rng)
                             : Message(static_cast<std::uint8_t>(0x40 + slot), 0, static_cast<std::uint8_t>(i % 128), 0,
                                       rng() % 129, rng);
    switch (rng() % 10) {
      case 0:  // wrong checksum
        m[m.size() - 2] = static_cast<std::uint8_t>((m[m.size() - 2] + 1 + rng() % 126) % 128);
        break;
      case 1:  // broken header
        m[1 + rng() % 5] = static_cast<std::uint8_t>(rng() % 256);
        break;
      case 2:  // cut short: no 0xF7
        m.resize(m.size() - 1 - rng() % (m.size() - 1));
        break;
      case 3:  // an address of no slot
        m = Message(static_cast<std::uint8_t>(0x72 + rng() % 10), 0, 0, 0, rng() % 20, rng);
        break;
      case 4:  // a message sent again later: a duplicate
        if (!sent.empty()) m = sent[rng() % sent.size()];
        break;
      case 5:  // stray bytes in front
        for (int k = static_cast<int>(rng() % 5); k >= 0; --k) out.push_back(static_cast<std::uint8_t>(rng() % 256));
        break;
      default:
        break;
    }
    // Real-time bytes anywhere, inside messages too.
    for (int k = static_cast<int>(rng() % 3); k > 0; --k) {
      m.insert(m.begin() + static_cast<long>(rng() % (m.size() + 1)), rng() % 2 ? 0xFE : 0xF8);
    }
    sent.push_back(m);
    out.insert(out.end(), m.begin(), m.end());
  }
  return out;
}

std::size_t StoredBytes(const mc303::PieceStore& store) {
  std::size_t n = store.PendingBytes.size();
  for (int s = 0; s < 51; ++s) {
    n += store.PatternData[static_cast<std::size_t>(s)].size() + store.SettingsData[static_cast<std::size_t>(s)].size();
  }
  return n;
}

class NoisyStreams : public testing::TestWithParam<std::uint32_t> {};

TEST_P(NoisyStreams, EveryByteEndsInExactlyOnePlace) {
  ParserRig rig;
  const Bytes stream = NoisyStream(GetParam());
  Bytes expected;
  for (std::uint8_t b : stream) {
    if (b != 0xFE && b != 0xF8) expected.push_back(b);
  }
  // Reports on for odd seeds, off for even: the store must not care.
  (void)rig.Feed(stream, GetParam() % 2 == 1);
  rig.parse.CloseOutfile();

  EXPECT_EQ(StoredBytes(rig.Store()), expected.size());
  EXPECT_EQ(rig.log.bytes, expected);
  EXPECT_EQ(rig.parse.Log().ByteCount, static_cast<int>(expected.size()));
  EXPECT_TRUE(rig.Store().PatternData[50].empty());
  EXPECT_LE(rig.tPieces.Length(), 16384);
  EXPECT_LE(rig.tDev.Length(), 1024);
  // Every present piece holds bytes; every absent one holds none.
  for (std::size_t s = 0; s < 50; ++s) {
    EXPECT_EQ(rig.Store().PatternPresent[s], !rig.Store().PatternData[s].empty());
    EXPECT_EQ(rig.Store().SettingsPresent[s], !rig.Store().SettingsData[s].empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Stream, NoisyStreams, testing::Range(1u, 25u));

TEST(Stream, CleanDumpFilesEachSlotsMessagesExactlyAndLeavesNothingPending) {
  ParserRig rig;
  std::mt19937 rng(7);
  Bytes stream;
  std::vector<Bytes> pattern(50), settings(50);
  for (int s = 0; s < 50; ++s) {
    for (int k = 0; k < 1 + s % 3; ++k) {
      const Bytes m = Message(static_cast<std::uint8_t>(0x40 + s), 0, static_cast<std::uint8_t>(k), 0, 128, rng);
      pattern[static_cast<std::size_t>(s)].insert(pattern[static_cast<std::size_t>(s)].end(), m.begin(), m.end());
      stream.insert(stream.end(), m.begin(), m.end());
      stream.push_back(0xFE);
    }
    const Bytes m = Message(0x14, static_cast<std::uint8_t>(s), 0, 0, 47, rng);
    settings[static_cast<std::size_t>(s)] = m;
    stream.insert(stream.end(), m.begin(), m.end());
  }
  EXPECT_TRUE(rig.Feed(stream).empty());
  std::string box;
  for (int u = 1; u <= 50; ++u) {
    EXPECT_EQ(rig.Pattern(u), pattern[static_cast<std::size_t>(u - 1)]) << u;
    EXPECT_EQ(rig.Settings(u), settings[static_cast<std::size_t>(u - 1)]) << u;
    char line[8];
    std::snprintf(line, sizeof line, "U%02d\r\n", u);
    box += line;
  }
  EXPECT_EQ(rig.tPieces.Text(), box);
  EXPECT_TRUE(rig.Store().PendingBytes.empty());
}

}  // namespace
