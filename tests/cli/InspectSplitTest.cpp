// vezorizer-cli inspect and split, run as a user runs them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "DumpGenerator.h"
#include "support/RunCli.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Msg(std::uint8_t a0, std::uint8_t a1, std::uint8_t data) {
  const std::uint8_t address[4] = {a0, a1, 0, 0};
  return dumpgen::DataSetMessage(0x10, address, {data});
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes ReadBytes(const std::filesystem::path& p) {
  const std::string s = Slurp(p);
  return Bytes(s.begin(), s.end());
}

// The example dump, cut into its messages by scanning for F0 ... F7 (no parser).
struct DumpLayout {
  std::size_t messages = 0;
  std::size_t bytesLessSensing = 0;
  std::vector<Bytes> pattern = std::vector<Bytes>(50);
  std::vector<Bytes> settings = std::vector<Bytes>(50);
};

DumpLayout Layout(const Bytes& dump) {
  DumpLayout l;
  Bytes current;
  for (std::uint8_t b : dump) {
    if (b == 0xFE) continue;
    ++l.bytesLessSensing;
    current.push_back(b);
    if (b == 0xF7) {
      ++l.messages;
      auto& target = current[6] == 0x14 ? l.settings[current[7]] : l.pattern[current[6] - 0x40u];
      target.insert(target.end(), current.begin(), current.end());
      current.clear();
    }
  }
  return l;
}

class Cli : public testing::Test {
 protected:
  void SetUp() override { dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(Cli, InspectJsonOfTheExampleDumpAccountsForEveryMessageAndSlot) {
  const std::string demo = std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx";
  const DumpLayout layout = Layout(ReadBytes(demo));
  const CliRun r = RunCli({"inspect", "--json", demo}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["messages"].size(), layout.messages);
  for (const auto& m : j["messages"]) {
    EXPECT_TRUE(m["outcome"] == "new" || m["outcome"] == "continued") << m.dump();
    EXPECT_EQ(m["file"], demo);
    EXPECT_TRUE(m["checksum"]["ok"].get<bool>());
  }
  ASSERT_EQ(j["slots"].size(), 50u);
  std::string box;
  for (int u = 1; u <= 50; ++u) {
    const auto& slot = j["slots"][static_cast<std::size_t>(u - 1)];
    EXPECT_EQ(slot["user"], u);
    EXPECT_EQ(slot["pattern_bytes"], layout.pattern[static_cast<std::size_t>(u - 1)].size());
    EXPECT_EQ(slot["settings_bytes"], layout.settings[static_cast<std::size_t>(u - 1)].size());
    char line[8];
    std::snprintf(line, sizeof line, "U%02d\r\n", u);
    box += line;
  }
  EXPECT_EQ(j["pieces_box"], box);
  EXPECT_EQ(j["pending_bytes"], 0);
  EXPECT_EQ(j["logged_bytes"], layout.bytesLessSensing);
}

TEST_F(Cli, InspectTextReportsEachMessageWithItsOutcomeAndExitsOneOnTrouble) {
  // U03 pattern (0x42 + 1 = 67, checksum 61 = 0x3D), U04 pattern, U03 again: duplicate.
  const Bytes u3 = Msg(0x42, 0, 1);
  Bytes bad = Msg(0x14, 2, 5);
  bad[bad.size() - 2] ^= 0x01;
  WriteBytes(dir_ / "a.syx", Cat({u3, Msg(0x43, 0, 1), u3, bad, Msg(0x72, 0, 0), {0x01, 0x02}}));
  const CliRun r = RunCli({"inspect", "a.syx"}, dir_);
  EXPECT_EQ(r.status, 1);
  // 0x14 + 2 + 5 = 27, expected 101 = 0x65; sent 0x64. 0x72 + 0 = 114, checksum 14 = 0x0E.
  EXPECT_EQ(r.out,
            "42000000 2 BYTES.  [U03 pattern new]\n"
            "43000000 2 BYTES.  [U04 pattern new]\n"
            "42000000 2 BYTES.  [U03 pattern duplicate]\n"
            "140200 BAD CKS (WAS 64, EXPECTED 65)!  [bad checksum]\n"
            "72000000 2 BYTES.  [no piece]\n"
            "U03 Missing Settings\n"
            "U04 Missing Settings\n"
            "5 messages, 1 bad checksums, 1 duplicates, 28 bytes pending\n");
}

TEST_F(Cli, InspectJsonNamesTheFileAndOffsetWhereEachMessageBegan) {
  const Bytes u1 = Msg(0x40, 0, 1);
  // The second message starts in a.syx and ends in b.syx.
  const Bytes s1 = Msg(0x14, 0, 1);
  const Bytes a = Cat({{0xFE, 0x00}, u1, Bytes(s1.begin(), s1.begin() + 4)});
  const Bytes b = Cat({Bytes(s1.begin() + 4, s1.end()), {0xFE}, Msg(0x41, 0, 1)});
  WriteBytes(dir_ / "a.syx", a);
  WriteBytes(dir_ / "b.syx", b);
  const CliRun r = RunCli({"inspect", "--json", "a.syx", "b.syx"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["messages"].size(), 3u);
  EXPECT_EQ(j["messages"][0]["file"], "a.syx");
  EXPECT_EQ(j["messages"][0]["offset"], 2);
  EXPECT_EQ(j["messages"][1]["file"], "a.syx");
  EXPECT_EQ(j["messages"][1]["offset"], 2 + u1.size());
  EXPECT_EQ(j["messages"][1]["outcome"], "new");
  EXPECT_EQ(j["messages"][1]["kind"], "settings");
  EXPECT_EQ(j["messages"][2]["file"], "b.syx");
  EXPECT_EQ(j["messages"][2]["offset"], s1.size() - 4 + 1);
  EXPECT_EQ(j["messages"][2]["user"], 2);
  EXPECT_EQ(j["logged_bytes"], a.size() + b.size() - 2);
}

TEST_F(Cli, SplitWritesBothFilesOfEveryCompleteSlotUnderTheDefaultBase) {
  const Bytes p1 = Msg(0x40, 0, 1), s1 = Msg(0x14, 0, 1), p2 = Msg(0x41, 0, 1), s3 = Msg(0x14, 2, 1);
  const Bytes junk = {0x12, 0x34};
  WriteBytes(dir_ / "set.syx", Cat({junk, p1, {0xFE}, s1, p2, s3}));
  const CliRun r = RunCli({"split", "set.syx"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "set_U01P.SYX\nset_U01S.SYX\n");
  EXPECT_EQ(ReadBytes(dir_ / "set_U01P.SYX"), Cat({junk, p1}));
  EXPECT_EQ(ReadBytes(dir_ / "set_U01S.SYX"), s1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "set_U02P.SYX"));
}

TEST_F(Cli, SplitAppliesThePieceRuleToAGivenBaseAndWarnsOfDuplicates) {
  const Bytes p1 = Msg(0x40, 0, 1), s1 = Msg(0x14, 0, 1);
  WriteBytes(dir_ / "in.syx", Cat({p1, s1, p1}));
  const CliRun r = RunCli({"split", "--base", "OUT.SYX", "in.syx"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "OUT_U01P.SYX\nOUT_U01S.SYX\n");
  EXPECT_NE(r.err.find("duplicate"), std::string::npos);
  EXPECT_EQ(ReadBytes(dir_ / "OUT_U01P.SYX"), Cat({p1, p1}));
}

TEST_F(Cli, SplitWithNoCompleteSlotWritesNothingAndExitsOne) {
  WriteBytes(dir_ / "half.syx", Msg(0x40, 0, 1));
  const CliRun r = RunCli({"split", "half.syx"}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
}

TEST_F(Cli, AFileThatCannotBeReadIsAnErrorNamingItAndIsNeverCreated) {
  for (const char* sub : {"inspect", "split"}) {
    const CliRun r = RunCli({sub, "nope.syx"}, dir_);
    EXPECT_EQ(r.status, 2) << sub;
    EXPECT_NE(r.err.find("nope.syx"), std::string::npos) << sub;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "nope.syx"));
  }
  EXPECT_EQ(RunCli({"inspect"}, dir_).status, 2);
  EXPECT_EQ(RunCli({"frobnicate"}, dir_).status, 2);
  EXPECT_EQ(RunCli({"--help"}, dir_).status, 0);
}

}  // namespace
