// The bundled example dump is the generator's output for the fixed seed; the simulated
// MC-303, on the test's clock, never leaves a part with a hole in it after an unpaced or
// damaged load. A paced load taken whole is e2e.sim.roundtrip's, on the real device.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "Bank.h"
#include "DeviceModel.h"
#include "DumpGenerator.h"

namespace {

using mc303sim::Bytes;
using mc303sim::Micros;

Bytes LessSensing(Bytes b) {
  std::erase(b, 0xFE);
  return b;
}

Bytes Example() {
  std::ifstream in(std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes Generated(std::uint32_t seed, int maxPatternBytes) {
  dumpgen::DumpOptions o;
  o.seed = seed;
  o.minPatternBytes = 64;
  o.maxPatternBytes = maxPatternBytes;
  return dumpgen::GenerateDump(o);
}

// The test's own reading of a slot-ordered dump: the bytes of each part, keyed by the
// address bytes that name it (a0 for pattern data, 0x14 and a1 for settings).
std::map<int, Bytes> Parts(const Bytes& dump) {
  std::map<int, Bytes> parts;
  for (auto i = dump.begin(); i != dump.end();) {
    const auto end = std::find(i, dump.end(), 0xF7) + 1;
    Bytes& part = parts[i[6] == 0x14 ? 0x1400 + i[7] : i[6]];
    part.insert(part.end(), i, end);
    i = end;
  }
  return parts;
}

TEST(DumpGenerator, BundledExampleIsTheOutputForTheDefaultSeed) {
  EXPECT_EQ(Example(), dumpgen::GenerateDump({}));
}

class Sim : public testing::Test {
 protected:
  Sim() { (void)mc303sim::LoadBank(Example(), bank); }
  // Blocks cut as the librarian's Send cuts them (at the first 0xF7 once a block holds
  // more than blockBytes), each arriving whole `pause` after the one before; the load's
  // summary once the device has been quiet long enough.
  std::optional<mc303sim::LoadSummary> Load(const Bytes& stream, std::size_t blockBytes, Micros pause) {
    Micros t(0);
    for (std::size_t start = 0, i = 0; i < stream.size(); ++i) {
      if (i + 1 < stream.size() && (stream[i] != 0xF7 || i + 1 - start <= blockBytes)) continue;
      model.Receive(stream.data() + start, i + 1 - start, t);
      t += pause;
      start = i + 1;
    }
    return model.Poll(t + Micros(60'000'000));
  }
  mc303sim::Bank bank;
  mc303sim::DeviceModel model{bank, {}};
};

struct LoadCase {
  const char* name;
  std::size_t blockBytes;
  Micros pause;
  int rcvErrors;  // -1: some, at most one a message
  int brokenOff;  // messages the sender ended before their 0xF7
  std::function<void(Bytes&, std::size_t start)> damage;  // to U02's second pattern message
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class SimLoad : public Sim, public testing::WithParamInterface<LoadCase> {};

TEST_P(SimLoad, LeavesEveryPartOldOrNewAndWholeNeverWithAHole) {
  const LoadCase& c = GetParam();
  const Bytes good = Generated(13, 1200);
  Bytes sent = good;
  if (c.damage) {
    std::size_t start = 0;  // address 41 00 01 00
    while (!(sent[start] == 0xF0 && sent[start + 6] == 0x41 && sent[start + 8] == 0x01)) ++start;
    c.damage(sent, start);
  }
  int reported = 0;
  model.SetErrorObserver([&](const mc303sim::RcvErr&) { ++reported; });
  const auto summary = Load(sent, c.blockBytes, c.pause);
  ASSERT_TRUE(summary);
  if (c.rcvErrors >= 0) {
    EXPECT_EQ(summary->RcvErrors(), c.rcvErrors);
  } else {
    EXPECT_TRUE(summary->overflows > 0 && summary->overflows <= std::count(sent.begin(), sent.end(), 0xF0));
  }
  EXPECT_EQ(reported, summary->RcvErrors());
  EXPECT_EQ(summary->brokenOff, c.brokenOff);

  const auto oldParts = Parts(LessSensing(Example())), newParts = Parts(LessSensing(good));
  const auto nowParts = Parts(bank.DumpBytes());
  std::size_t replaced = 0;
  for (const auto& [key, bytes] : nowParts) {
    EXPECT_TRUE(bytes == oldParts.at(key) || bytes == newParts.at(key)) << "part " << std::hex << key;
    replaced += bytes == newParts.at(key);
  }
  EXPECT_EQ(replaced, summary->stored.size());
  if (c.damage) {
    EXPECT_EQ(nowParts.at(0x41), oldParts.at(0x41));
    EXPECT_EQ(replaced, 99u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimLoad,
    testing::Values(LoadCase{"WholeDumpAtOnce", 1 << 20, Micros(0), -1, 0, nullptr},
                    LoadCase{"BadChecksum", 139, Micros(200'000), 1, 0, [](Bytes& b, std::size_t s) { b[s + 12] ^= 1; }},
                    LoadCase{"StatusByteInside", 139, Micros(200'000), 0, 1, [](Bytes& b, std::size_t s) { b[s + 20] = 0x90; }}),
    [](const auto& p) { return std::string(p.param.name); });

// The receive buffer holds its size and not a byte more; bytes cross the cable one at a
// time, the buffer draining meanwhile, even when the sender hands them over at once.
TEST(SimBuffer, HoldsItsSizeAndFillsAtWireSpeed) {
  const auto overflows = [](int bufferBytes, int drainBytesPerSecond, std::size_t messageBytes) {
    mc303sim::Bank bank;
    mc303sim::DeviceModel model{bank, {bufferBytes, drainBytesPerSecond}};
    Bytes message(messageBytes, 0x00);
    message.front() = 0xF0;
    message.back() = 0xF7;
    model.Receive(message.data(), message.size(), Micros(0));
    return model.Poll(Micros(60'000'000))->overflows;
  };
  // Draining 625 bytes a second, a fifth of a byte goes between two bytes: the sixth
  // fills five bytes exactly, the seventh is one too many.
  EXPECT_EQ(overflows(5, 625, 6), 0);
  EXPECT_EQ(overflows(5, 625, 7), 1);
  EXPECT_EQ(overflows(512, 1600, 1000), 0) << "half of it drained while it crossed the cable";
}

}  // namespace
