// The bundled example dump is the generator's output for the fixed seed, so that it can
// be made again byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "DumpGenerator.h"

TEST(DumpGenerator, BundledExampleIsTheOutputForTheDefaultSeed) {
  std::ifstream in(std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx", std::ios::binary);
  const std::vector<std::uint8_t> bundled((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bundled, dumpgen::GenerateDump({}));
}
