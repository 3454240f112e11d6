// vezorizer-cli combine, run as a user runs it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "DumpGenerator.h"
#include "support/RunCli.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes Msg(std::uint8_t a0, std::uint8_t a1) {
  const std::uint8_t address[4] = {a0, a1, 0, 0};
  return dumpgen::DataSetMessage(0x10, address, {0x01, 0x02});
}

class Combine : public testing::Test {
 protected:
  void SetUp() override { dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(Combine, WritesTheListedFilesInSortedOrderLessRealTimeBytes) {
  const Bytes u3p = Msg(0x42, 0), u1s = Msg(0x14, 0);  // U03 pattern, U01 settings
  Bytes withRealTime = u3p;
  withRealTime.insert(withRealTime.begin() + 5, 0xFE);
  withRealTime.push_back(0xF8);
  WriteBytes(dir_ / "B_U03P.SYX", withRealTime);
  WriteBytes(dir_ / "B_U01S.SYX", u1s);

  const CliRun r = RunCli({"combine", "-o", "both", "B_U03P.SYX", "B_U01S.SYX"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "B_U01S.SYX\nB_U03P.SYX\n");
  Bytes expected = u1s;
  expected.insert(expected.end(), u3p.begin(), u3p.end());
  const std::string written = Slurp(dir_ / "both.SYX");
  EXPECT_EQ(Bytes(written.begin(), written.end()), expected);
}

struct Refusal {
  std::vector<std::string> files;
  int status;
  const char* errorHas;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << testing::PrintToString(r.files); }

class CombineRefuses : public Combine, public testing::WithParamInterface<Refusal> {};

TEST_P(CombineRefuses, WritesNothing) {
  WriteBytes(dir_ / "a.syx", Msg(0x40, 0));
  WriteBytes(dir_ / "empty.syx", {0xFE});
  std::vector<std::string> args = {"combine", "-o", "out.syx"};
  args.insert(args.end(), GetParam().files.begin(), GetParam().files.end());
  const CliRun r = RunCli(args, dir_);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_NE(r.err.find(GetParam().errorHas), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "out.syx"));
  EXPECT_FALSE(fs::exists(dir_ / "missing.syx")) << "a file to read is never created";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CombineRefuses,
    testing::Values(Refusal{{"a.syx", "a.syx"}, 1, "A duplicate piece of data was found"},
                    Refusal{{"empty.syx"}, 1, "No data has been stored in the buffer yet."},
                    Refusal{{"a.syx", "missing.syx"}, 2, "missing.syx"},
                    Refusal{{"a.syx", "new\nline.syx"}, 2, "line break"}));

}  // namespace
