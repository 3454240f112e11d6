// The simulated MC-303's model on a clock of the test's own: its checksum test and
// address map, the bank and its dump, the receive buffer against paced and unpaced
// sends, what a receive error does to the bank, and the timing of its MIDI OUT.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "Bank.h"
#include "DeviceModel.h"
#include "DumpGenerator.h"
#include "LineOutput.h"

namespace {

using mc303sim::Bank;
using mc303sim::Bytes;
using mc303sim::DeviceModel;
using mc303sim::Micros;
using mc303sim::PartAddress;
using mc303sim::PartKind;

Bytes ExampleDump() {
  std::ifstream in(std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes WithoutSensing(Bytes b) {
  b.erase(std::remove(b.begin(), b.end(), 0xFE), b.end());
  return b;
}

Bytes Generated(std::uint32_t seed, int minPattern = 64, int maxPattern = 1200) {
  dumpgen::DumpOptions o;
  o.seed = seed;
  o.minPatternBytes = minPattern;
  o.maxPatternBytes = maxPattern;
  return dumpgen::GenerateDump(o);
}

// Blocks as the librarian's Send cuts them: at the first 0xF7 once a block holds more
// than bufferSize bytes; the rest of the stream last.
std::vector<Bytes> CutLikeSend(const Bytes& stream, std::size_t bufferSize) {
  std::vector<Bytes> blocks(1);
  for (std::uint8_t b : stream) {
    blocks.back().push_back(b);
    if (b == 0xF7 && blocks.back().size() > bufferSize) blocks.emplace_back();
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

// Each block arrives whole (as a virtual port delivers it), `pause` after the one before.
Micros Feed(DeviceModel& model, const std::vector<Bytes>& blocks, Micros pause, Micros t = Micros(0)) {
  for (const Bytes& block : blocks) {
    model.Receive(block.data(), block.size(), t);
    t += pause;
  }
  return t;
}

std::optional<mc303sim::LoadSummary> AfterQuiet(DeviceModel& model, Micros lastArrival) {
  return model.Poll(lastArrival + Micros(60'000'000));
}

// The test's own reading of a slot-ordered dump: the bytes of each part, keyed by the
// address bytes that name it (a0 for pattern data, 0x14 and a1 for settings).
std::map<int, Bytes> Parts(const Bytes& dump) {
  std::map<int, Bytes> parts;
  for (std::size_t i = 0; i < dump.size();) {
    std::size_t end = i;
    while (dump[end] != 0xF7) ++end;
    const int key = dump[i + 6] == 0x14 ? 0x1400 + dump[i + 7] : dump[i + 6];
    parts[key].insert(parts[key].end(), dump.begin() + static_cast<std::ptrdiff_t>(i),
                      dump.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    i = end + 1;
  }
  return parts;
}

// --- checksum and address map -----------------------------------------------------------

struct MessageCase {
  const char* name;
  Bytes message;
  mc303sim::MessageCheck check;
  std::optional<PartAddress> part;
};

class SimMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(SimMessage, IsCheckedAndPlacedByItsAddress) {
  EXPECT_EQ(mc303sim::CheckMessage(GetParam().message), GetParam().check);
  if (GetParam().check == mc303sim::MessageCheck::Good) {
    EXPECT_EQ(mc303sim::PartOf(GetParam().message), GetParam().part);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimMessage,
    ::testing::Values(
        // 40+00+00+00+01+02+03 = 0x46 = 70; 128 - 70 = 58 = 0x3A
        MessageCase{"FirstPattern", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 1, 2, 3, 0x3A, 0xF7},
                    mc303sim::MessageCheck::Good, PartAddress{0, PartKind::Pattern}},
        MessageCase{"ChecksumOffByOne", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 1, 2, 3, 0x3B, 0xF7},
                    mc303sim::MessageCheck::BadChecksum, std::nullopt},
        // 0x71 + 0x01 + 0x02 + 0x00 + 0x7C = 0xF0 = 240; 240 mod 128 = 112; 128 - 112 = 16 = 0x10
        MessageCase{"LastPattern", {0xF0, 0x41, 0x7F, 0x00, 0x03, 0x12, 0x71, 0x01, 0x02, 0x00, 0x7C, 0x10, 0xF7},
                    mc303sim::MessageCheck::Good, PartAddress{49, PartKind::Pattern}},
        // 40 + 40 = 128: the checksum 0 stands for 128
        MessageCase{"ChecksumZero", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 0x40, 0x00, 0xF7},
                    mc303sim::MessageCheck::Good, PartAddress{0, PartKind::Pattern}},
        // 14 + 31 = 0x45 = 69; 128 - 69 = 59 = 0x3B
        MessageCase{"LastSettings", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0x31, 0, 0, 0x3B, 0xF7},
                    mc303sim::MessageCheck::Good, PartAddress{49, PartKind::Settings}},
        // 14 + 32 = 0x46 = 70; 128 - 70 = 58 = 0x3A
        MessageCase{"SettingsPastTheLastSlot", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0x32, 0, 0, 0x3A, 0xF7},
                    mc303sim::MessageCheck::Good, std::nullopt},
        // 72 = 114; 128 - 114 = 14 = 0x0E
        MessageCase{"PatternPastTheLastSlot", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x72, 0, 0, 0, 0x0E, 0xF7},
                    mc303sim::MessageCheck::Good, std::nullopt},
        MessageCase{"OtherModel", {0xF0, 0x41, 0x10, 0x00, 0x04, 0x12, 0x40, 0, 0, 0, 0x40, 0xF7},
                    mc303sim::MessageCheck::NotDataSet, std::nullopt},
        MessageCase{"NoChecksum", {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 0xF7},
                    mc303sim::MessageCheck::NotDataSet, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

// --- bank ---------------------------------------------------------------------------------

TEST(SimBank, DumpIsTheExampleBankLessActiveSensing) {
  Bank bank;
  const auto load = mc303sim::LoadBank(ExampleDump(), bank);
  EXPECT_EQ(load.ignored, 0);
  EXPECT_EQ(bank.PatternCount(), 50);
  EXPECT_EQ(bank.DumpBytes(), WithoutSensing(ExampleDump()));
}

TEST(SimBank, FileWithABadChecksumIsRefusedAndTheBankKept) {
  Bank bank;
  (void)mc303sim::LoadBank(ExampleDump(), bank);
  Bytes damaged = Generated(5);
  const std::size_t at = 300;
  damaged[at] = static_cast<std::uint8_t>(damaged[at] ^ 0x01);  // a data byte of the third message
  const auto load = mc303sim::LoadBank(damaged, bank);
  ASSERT_TRUE(load.badChecksumOffset);
  EXPECT_EQ(bank.DumpBytes(), WithoutSensing(ExampleDump()));
}

// --- receive buffer -------------------------------------------------------------------------

struct PacedCase {
  const char* name;
  std::uint32_t seed;
  int minPattern;
  int maxPattern;
};

class SimPacedLoad : public ::testing::TestWithParam<PacedCase> {};

// Blocks past 139 bytes, 200 ms apart: the whole bank is taken in as one load, without a
// receive error, and replaces every part.
TEST_P(SimPacedLoad, IsTakenInWithoutErrorAndReplacesTheBank) {
  Bank bank;
  (void)mc303sim::LoadBank(ExampleDump(), bank);
  DeviceModel model(bank, {});
  const Bytes sent = Generated(GetParam().seed, GetParam().minPattern, GetParam().maxPattern);
  const Micros end = Feed(model, CutLikeSend(sent, 139), Micros(200'000));
  const auto summary = AfterQuiet(model, end);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->RcvErrors(), 0);
  EXPECT_EQ(summary->stored.size(), 100u);
  EXPECT_EQ(model.TotalRcvErrors(), 0u);
  EXPECT_EQ(bank.DumpBytes(), WithoutSensing(sent));
  EXPECT_FALSE(model.Poll(end + Micros(120'000'000))) << "one load, one summary";
}

INSTANTIATE_TEST_SUITE_P(Banks, SimPacedLoad,
                         ::testing::Values(PacedCase{"LongPatterns", 11, 64, 1200},
                                           // A short pattern and its settings fit under 139
                                           // bytes, so most blocks take the next 140-byte
                                           // message too: the largest blocks pacing makes.
                                           PacedCase{"ShortPatterns", 7, 64, 200},
                                           PacedCase{"OneMessagePatterns", 3, 70, 128}),
                         [](const auto& p) { return std::string(p.param.name); });

struct UnpacedCase {
  const char* name;
  std::size_t blockBytes;
  Micros pause;
};

class SimUnpacedLoad : public ::testing::TestWithParam<UnpacedCase> {};

// Sent too fast, the load overruns the buffer; every part of the bank is then either its
// old part or the new one whole, never a part with a hole.
TEST_P(SimUnpacedLoad, OverrunsTheBufferButStoresNoDamagedPart) {
  Bank bank;
  const Bytes before = WithoutSensing(ExampleDump());
  (void)mc303sim::LoadBank(before, bank);
  DeviceModel model(bank, {});
  int reported = 0;
  model.SetErrorObserver([&](const mc303sim::RcvErr& e) {
    EXPECT_EQ(e.kind, mc303sim::RcvErrKind::Overflow);
    ++reported;
  });
  const Bytes sent = Generated(21);
  const Micros end = Feed(model, CutLikeSend(sent, GetParam().blockBytes), GetParam().pause);
  const auto summary = AfterQuiet(model, end);
  ASSERT_TRUE(summary);
  EXPECT_GT(summary->overflows, 0);
  EXPECT_EQ(summary->overflows, reported);
  EXPECT_LE(summary->overflows, std::count(sent.begin(), sent.end(), 0xF0)) << "one RCV ERR per message at most";
  EXPECT_EQ(summary->bytes, WithoutSensing(sent).size());

  const auto oldParts = Parts(before);
  const auto newParts = Parts(WithoutSensing(sent));
  const auto nowParts = Parts(bank.DumpBytes());
  ASSERT_EQ(nowParts.size(), oldParts.size());
  int replaced = 0;
  for (const auto& [key, bytes] : nowParts) {
    EXPECT_TRUE(bytes == oldParts.at(key) || bytes == newParts.at(key)) << "part " << std::hex << key;
    replaced += bytes == newParts.at(key) ? 1 : 0;
  }
  EXPECT_EQ(static_cast<std::size_t>(replaced), summary->stored.size());
}

INSTANTIATE_TEST_SUITE_P(Sends, SimUnpacedLoad,
                         ::testing::Values(UnpacedCase{"WholeDumpAtOnce", 1 << 20, Micros(0)},
                                           UnpacedCase{"SmallBlocksNoPause", 139, Micros(0)},
                                           UnpacedCase{"KilobyteBlocksPaced", 1000, Micros(200'000)},
                                           UnpacedCase{"FourHundredByteBlocksPaced", 400, Micros(200'000)}),
                         [](const auto& p) { return std::string(p.param.name); });

// A buffer of 10 bytes drained at 1 byte/s: ten bytes fit, the eleventh is lost; a second
// later one byte has drained and one more fits.
TEST(SimReceiveBuffer, HoldsItsSizeAndDrainsAtItsRate) {
  Bank bank;
  DeviceModel model(bank, {10, 1});
  const Bytes ten(10, 0x01);
  model.Receive(ten.data(), ten.size(), Micros(0));
  EXPECT_EQ(model.TotalRcvErrors(), 0u);
  model.Receive(ten.data(), 1, Micros(0));
  EXPECT_EQ(model.TotalRcvErrors(), 1u);
  // All eleven bytes crossed the cable by 11 x 320 us; one second after the tenth landed
  // (3.2 ms) a byte has drained.
  model.Receive(ten.data(), 1, Micros(3'200 + 1'000'000));
  EXPECT_EQ(model.TotalRcvErrors(), 1u);
  EXPECT_NEAR(model.BufferedBytes(Micros(3'200 + 1'000'000 + 320)), 10.0, 0.01);
}

// --- damaged messages -----------------------------------------------------------------------

struct DamageCase {
  const char* name;
  std::function<void(Bytes&, std::size_t start)> damage;  // applied to the message at start
  int rcvErrors;
  int brokenOff;
};

class SimDamagedMessage : public ::testing::TestWithParam<DamageCase> {};

// One message of U02's pattern data is damaged: U02's pattern keeps the bank's old part,
// everything else is replaced.
TEST_P(SimDamagedMessage, KeepsTheOldPartAndStoresTheRest) {
  Bank bank;
  const Bytes before = WithoutSensing(ExampleDump());
  (void)mc303sim::LoadBank(before, bank);
  DeviceModel model(bank, {});
  Bytes sent = WithoutSensing(Generated(13));
  std::size_t start = 0;  // the second message of U02's pattern (address 41 00 01 00)
  while (!(sent[start] == 0xF0 && sent[start + 6] == 0x41 && sent[start + 8] == 0x01)) ++start;
  GetParam().damage(sent, start);
  const Micros end = Feed(model, CutLikeSend(sent, 139), Micros(200'000));
  const auto summary = AfterQuiet(model, end);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->RcvErrors(), GetParam().rcvErrors);
  EXPECT_EQ(summary->brokenOff, GetParam().brokenOff);
  EXPECT_EQ(summary->droppedParts, 1);
  const auto nowParts = Parts(bank.DumpBytes());
  EXPECT_EQ(nowParts.at(0x41), Parts(before).at(0x41));
  EXPECT_EQ(nowParts.at(0x1401), Parts(WithoutSensing(Generated(13))).at(0x1401));
  EXPECT_EQ(nowParts.at(0x42), Parts(WithoutSensing(Generated(13))).at(0x42));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SimDamagedMessage,
    ::testing::Values(DamageCase{"BadChecksum", [](Bytes& b, std::size_t s) { b[s + 12] ^= 0x01; }, 1, 0},
                      // its 0xF7 and the checksum removed: the next 0xF0 breaks it off
                      DamageCase{"CutShort",
                                 [](Bytes& b, std::size_t s) {
                                   std::size_t end = s;
                                   while (b[end] != 0xF7) ++end;
                                   b.erase(b.begin() + static_cast<std::ptrdiff_t>(end) - 1,
                                           b.begin() + static_cast<std::ptrdiff_t>(end) + 1);
                                 },
                                 0, 1},
                      // a note-on status byte in its data
                      DamageCase{"StatusByteInside", [](Bytes& b, std::size_t s) { b[s + 20] = 0x90; }, 0, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimReceive, TheSamePartSentTwiceReplacesRatherThanAppends) {
  Bank bank;
  DeviceModel model(bank, {});
  const Bytes sent = WithoutSensing(Generated(17));
  const Bytes u01 = Parts(sent).at(0x40);
  Bytes twice = u01;
  twice.insert(twice.end(), u01.begin(), u01.end());
  const Micros end = Feed(model, CutLikeSend(twice, 139), Micros(200'000));
  ASSERT_TRUE(AfterQuiet(model, end));
  EXPECT_EQ(bank.Part({0, PartKind::Pattern}).size(), u01.size() / 140 + (u01.size() % 140 ? 1 : 0));
  EXPECT_EQ(bank.DumpBytes(), u01);
}

// --- MIDI OUT ---------------------------------------------------------------------------------

TEST(SimLineOutput, DumpLeavesAtWireSpeedAndSensingOnlyWhenQuiet) {
  mc303sim::LineOutput line(Micros(0));
  const Bytes dump = WithoutSensing(ExampleDump());
  ASSERT_TRUE(line.StartDump(dump, Micros(0)));
  EXPECT_FALSE(line.StartDump(dump, Micros(0)));
  // The first message holds 140 bytes: 140 x 320 us = 44.8 ms on the cable.
  EXPECT_TRUE(line.Due(Micros(44'799)).empty());
  const auto first = line.Due(Micros(44'800));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].size(), 140u);

  Bytes out = first[0];
  const Micros dumpEnd(static_cast<Micros::rep>(dump.size()) * 320);
  for (Micros t(50'000); t < dumpEnd; t += Micros(50'000)) {
    for (const Bytes& m : line.Due(t)) out.insert(out.end(), m.begin(), m.end());
  }
  EXPECT_TRUE(line.Dumping());
  for (const Bytes& m : line.Due(dumpEnd)) out.insert(out.end(), m.begin(), m.end());
  EXPECT_FALSE(line.Dumping());
  EXPECT_EQ(out, dump) << "no active sensing inside the dump, nothing lost";

  EXPECT_TRUE(line.Due(dumpEnd + Micros(299'999)).empty());
  EXPECT_EQ(line.Due(dumpEnd + Micros(300'000)), std::vector<Bytes>{{0xFE}});
  EXPECT_TRUE(line.Due(dumpEnd + Micros(599'999)).empty());
  EXPECT_EQ(line.Due(dumpEnd + Micros(600'000)), std::vector<Bytes>{{0xFE}});
}

}  // namespace
