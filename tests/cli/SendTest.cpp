// vezorizer-cli send as a user runs it, dry: the blocks, the summary, the errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/RunCli.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A message of exactly n bytes: F0, n - 2 data bytes, F7.
Bytes Msg(std::size_t n) {
  Bytes b(n, 0x11);
  b.front() = 0xF0;
  b.back() = 0xF7;
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class Send : public testing::Test {
 protected:
  void SetUp() override { dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(Send, ADryRunPrintsEveryBlockAndWhatStaysUnsent) {
  WriteBytes(dir_ / "a.syx", Cat({Msg(150), {0xF0, 0x01, 0x02}}));
  WriteBytes(dir_ / "b.syx", Cat({{0x03, 0xF7}, Msg(100)}));
  WriteBytes(dir_ / "c.syx", Cat({Msg(40), {0xF0, 0x05}}));
  const CliRun r = RunCli({"send", "--dry-run", "a.syx", "b.syx", "c.syx"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  // a: 150 paced, its tail of 3 waits; b: 3 + 2 + 100 = 105 go as its rest; c: 40 + 2
  // never end in an F7 that is followed by anything: 153 + 102 + 42 = 297 = 255 + 42.
  EXPECT_EQ(r.out,
            "block 1: 150 bytes\n"
            "block 2: 105 bytes (end of file)\n"
            "255 bytes sent in 2 blocks, 42 bytes left unsent\n");
}

TEST_F(Send, ABlockTooLongIsTheErrorOfTheJsonResult) {
  Bytes four;
  for (int i = 0; i < 5; ++i) four = Cat({four, Msg(4096)});
  WriteBytes(dir_ / "long.syx", Cat({Msg(200), four}));
  const CliRun r = RunCli({"send", "--dry-run", "--json", "--buffer-size", "16384", "long.syx"}, dir_);
  EXPECT_EQ(r.status, 1);
  const auto j = nlohmann::json::parse(r.out);
  // 200 + 3 x 4096 = 12488 pending; the fourth message of 4096 brings the 16385th byte
  // before any 0xF7 past 16384.
  EXPECT_EQ(j["blocks"], nlohmann::json::array());
  EXPECT_EQ(j["sent_bytes"], 0);
  EXPECT_EQ(j["unsent_bytes"], 200 + 5 * 4096);
  EXPECT_EQ(j["error"],
            "Single SysEx block longer than 16384 bytes.  A little unlikely, but that means this program has to "
            "change.");
}

TEST_F(Send, TheBufferSizeComesFromSettingsInTheCurrentDirectoryUnlessGiven) {
  Bytes five;
  for (int i = 0; i < 5; ++i) five = Cat({five, Msg(300)});
  WriteBytes(dir_ / "five.syx", five);
  WriteBytes(dir_ / "SETTINGS.DAT", {'1', '0', '2', '4', '\r', '\n'});
  const CliRun fromFile = RunCli({"send", "--dry-run", "five.syx"}, dir_);
  ASSERT_EQ(fromFile.status, 0) << fromFile.err;
  // 4 x 300 = 1200 is the first end past 1024.
  EXPECT_EQ(fromFile.out,
            "block 1: 1200 bytes\n"
            "block 2: 300 bytes (end of file)\n"
            "1500 bytes sent in 2 blocks, 0 bytes left unsent\n");
  const CliRun given = RunCli({"send", "--dry-run", "--buffer-size", "0", "--json", "five.syx"}, dir_);
  EXPECT_EQ(nlohmann::json::parse(given.out)["blocks"].size(), 5u);
}

struct Refused {
  std::vector<std::string> args;
  const char* errorHas;
};
void PrintTo(const Refused& r, std::ostream* os) { *os << testing::PrintToString(r.args); }

class SendRefuses : public Send, public testing::WithParamInterface<Refused> {};

TEST_P(SendRefuses, WithStatusTwoAndSendsNothing) {
  WriteBytes(dir_ / "a.syx", Msg(150));
  std::vector<std::string> args = {"send", "--dry-run"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const CliRun r = RunCli(args, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(GetParam().errorHas), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("block"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "missing.syx")) << "a file to send is never created";
}

INSTANTIATE_TEST_SUITE_P(Cli, SendRefuses,
                         testing::Values(Refused{{"a.syx", "missing.syx"}, "missing.syx"},
                                         Refused{{"a.syx", "nested\nname.syx"}, "holds a line break"}));

}  // namespace
