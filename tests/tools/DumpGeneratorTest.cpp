// The example generator: the bundled dump is its output for the fixed seed, and what it
// makes is a well-formed dump by arithmetic of its own.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "DumpGenerator.h"

namespace {

TEST(DumpGenerator, BundledExampleIsTheOutputForTheDefaultSeed) {
  std::ifstream in(std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx", std::ios::binary);
  const std::vector<std::uint8_t> bundled((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bundled, dumpgen::GenerateDump({}));
}

TEST(DumpGenerator, MessagesAreCheckedDataSetsWithActiveSensingOnlyBetweenThem) {
  dumpgen::DumpOptions o;
  o.seed = 99;
  const auto dump = dumpgen::GenerateDump(o);
  std::size_t i = 0;
  int messages = 0;
  int lastPatternSlot = -1;
  while (i < dump.size()) {
    if (dump[i] == 0xFE) {
      ++i;
      continue;
    }
    ASSERT_EQ(dump[i], 0xF0) << "at " << i;
    std::size_t end = i;
    while (end < dump.size() && dump[end] != 0xF7) ++end;
    ASSERT_LT(end, dump.size());
    // F0 41 dev 00 03 12, four address bytes, data, checksum, F7.
    ASSERT_GE(end - i, 11u);
    EXPECT_EQ(dump[i + 1], 0x41);
    EXPECT_EQ(dump[i + 3], 0x00);
    EXPECT_EQ(dump[i + 4], 0x03);
    EXPECT_EQ(dump[i + 5], 0x12);
    const std::size_t dataBytes = end - i - 11;
    EXPECT_LE(dataBytes, 128u);
    unsigned sum = 0;
    for (std::size_t k = i + 6; k < end; ++k) {
      EXPECT_LT(dump[k], 0x80);
      sum += dump[k];
    }
    EXPECT_EQ(sum % 128, 0u) << "checksum of the message at " << i;
    if (dump[i + 6] != 0x14) lastPatternSlot = dump[i + 6] - 0x40;
    else EXPECT_EQ(dump[i + 7], lastPatternSlot) << "settings follow their slot's pattern";
    ++messages;
    i = end + 1;
  }
  EXPECT_GT(messages, 100);
}

}  // namespace
