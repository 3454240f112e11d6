// vezorizer-cli inspect, split, combine and send, run as a user runs them: arguments,
// exit status, text and JSON output. What the core makes of the bytes is tested there.
#include <gtest/gtest.h>

#include <set>
#include <nlohmann/json.hpp>

#include "DumpGenerator.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// One data byte at a0 a1 00 00, with the checksum the dump generator works out.
Bytes Msg(std::uint8_t a0, std::uint8_t a1, std::uint8_t data = 1) {
  const std::uint8_t address[4] = {a0, a1, 0, 0};
  return dumpgen::DataSetMessage(0x10, address, {data});
}

// F0, n - 2 bytes of 0x11, F7.
Bytes Block(std::size_t n) {
  Bytes b(n, 0x11);
  b.front() = 0xF0;
  b.back() = 0xF7;
  return b;
}

class Cli : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    // Where an installed window program keeps SETTINGS.DAT: the tester's own must not count.
    ::setenv("XDG_DATA_HOME", (dir_ / "user").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }
  CliRun Run(const std::vector<std::string>& args) const { return RunCli(args, dir_); }
  void Write(const std::string& name, const Bytes& bytes) const { WriteBytes(dir_ / name, bytes); }
  Bytes Read(const std::string& name) const {
    const std::string s = Slurp(dir_ / name);
    return {s.begin(), s.end()};
  }
  fs::path dir_;
};

TEST_F(Cli, InspectPrintsEachMessageWithItsOutcomeThenThePiecesAndExitsOneOnTrouble) {
  const Bytes u3 = Msg(0x42, 0);
  Bytes bad = Msg(0x14, 2, 5);
  bad[bad.size() - 2] ^= 0x01;
  Write("a.syx", Cat({u3, Msg(0x43, 0), u3, bad, Msg(0x72, 0, 0), {0x01, 0x02}}));
  const CliRun r = Run({"inspect", "a.syx"});
  EXPECT_EQ(r.status, 1);
  // 0x14 + 2 + 5 = 27, expected 101 = 0x65; sent 0x64. Pending: 13 + 13 + 2 bytes.
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

TEST_F(Cli, InspectJsonNamesWhereEachMessageBeganAndWhatEachSlotHolds) {
  const Bytes u1 = Msg(0x40, 0), s1 = Msg(0x14, 0);
  // The settings message starts in a.syx and ends in b.syx.
  Write("a.syx", Cat({{0xFE, 0x00}, u1, Bytes(s1.begin(), s1.begin() + 4)}));
  Write("b.syx", Cat({Bytes(s1.begin() + 4, s1.end()), {0xFE}, Msg(0x41, 0)}));
  const CliRun r = Run({"inspect", "--json", "a.syx", "b.syx"});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  // 40 00 00 00 + data 01: checksum 128 - 65 = 63.
  EXPECT_EQ(j["messages"][0], json::parse(R"({"file": "a.syx", "offset": 2, "address": [64, 0, 0, 0],
      "data_count": 2, "checksum": {"received": 63, "expected": 63, "ok": true}, "outcome": "new", "user": 1,
      "kind": "pattern", "report": "40000000 2 BYTES."})"));
  EXPECT_EQ(j["messages"][2]["file"], "b.syx");
  EXPECT_EQ(j["messages"][2]["offset"], 10);  // 9 bytes of the settings, one 0xFE
  // U01: the 0x00 in front and its pattern, 1 + 13, and its settings; U02: 13.
  EXPECT_EQ(j.erase("messages"), 1u);
  EXPECT_EQ(j, json::parse(R"({"slots": [{"user": 1, "pattern_bytes": 14, "settings_bytes": 13},
      {"user": 2, "pattern_bytes": 13, "settings_bytes": 0}], "pieces_box": "U01\r\nU02 Missing Settings\r\n",
      "pending_bytes": 0, "logged_bytes": 40})"));
}

TEST_F(Cli, SplitWritesBothFilesOfEveryCompleteSlotOrNothing) {
  const Bytes p1 = Msg(0x40, 0), s1 = Msg(0x14, 0), junk = {0x12, 0x34};
  Write("set.syx", Cat({junk, p1, {0xFE}, s1, Msg(0x41, 0), Msg(0x14, 2), p1}));
  CliRun r = Run({"split", "set.syx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "set_U01P.SYX\nset_U01S.SYX\n");
  EXPECT_NE(r.err.find("duplicate"), std::string::npos) << "warned of, yet split";
  EXPECT_EQ(Read("set_U01P.SYX"), Cat({junk, p1, p1}));
  EXPECT_EQ(Read("set_U01S.SYX"), s1);

  Write("half.syx", p1);
  r = Run({"split", "half.syx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No user slot holds both its pattern data and its settings: nothing written.\n");
  EXPECT_FALSE(fs::exists(dir_ / "half_U01P.SYX"));
}

TEST_F(Cli, SendPrintsItsBlocksAndWhatStaysUnsentAndTellsATooLongBlockInJson) {
  Write("a.syx", Cat({Block(150), {0xF0, 0x01, 0x02}}));
  Write("b.syx", Cat({{0x03, 0xF7}, Block(100)}));
  Write("c.syx", Cat({Block(40), {0xF0, 0x05}}));
  // a: 150 paced, its tail of 3 waits; b: 3 + 2 + 100 = 105 go as its rest; c: 40 + 2
  // never end in an F7 that is followed by anything: 153 + 102 + 42 = 297 = 255 + 42.
  EXPECT_EQ(Run({"send", "--dry-run", "a.syx", "b.syx", "c.syx"}).out,
            "block 1: 150 bytes\nblock 2: 105 bytes (end of file)\n255 bytes sent in 2 blocks, 42 bytes left unsent\n");
  // b's rest is paced all the same: another file follows.
  EXPECT_EQ(json::parse(Run({"send", "--dry-run", "--json", "a.syx", "b.syx", "c.syx"}).out)["blocks"],
            json::parse(R"([{"bytes": 150, "paced": true}, {"bytes": 105, "paced": true}])"));

  // The buffer size comes from the installed window's SETTINGS.DAT (4 x 300 is the first
  // end past 1024) unless the current folder holds one (3 x 300 > 600).
  Write("five.syx", Cat({Block(300), Block(300), Block(300), Block(300), Block(300)}));
  fs::create_directories(dir_ / "user" / "Vezorizer");
  Write("user/Vezorizer/SETTINGS.DAT", {'1', '0', '2', '4', '\r', '\n'});
  EXPECT_EQ(Run({"send", "--dry-run", "five.syx"}).out,
            "block 1: 1200 bytes\nblock 2: 300 bytes (end of file)\n1500 bytes sent in 2 blocks, 0 bytes left unsent\n");
  Write("SETTINGS.DAT", {'6', '0', '0', '\r', '\n'});
  EXPECT_EQ(Run({"send", "--dry-run", "five.syx"}).out,
            "block 1: 900 bytes\nblock 2: 600 bytes (end of file)\n1500 bytes sent in 2 blocks, 0 bytes left unsent\n");

  // 200 + 3 x 4096 = 12488 pending; the fourth 4096 brings the 16385th byte before any
  // 0xF7 past 16384.
  Write("long.syx", Cat({Block(200), Block(4096), Block(4096), Block(4096), Block(4096), Block(4096)}));
  const CliRun r = Run({"send", "--dry-run", "--json", "--buffer-size", "16384", "long.syx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(json::parse(r.out), json::parse(R"({"blocks": [], "sent_bytes": 0, "unsent_bytes": 20680, "error":
      "Single SysEx block longer than 16384 bytes.  A little unlikely, but that means this program has to change."})"));
}

// A .mid made of a .syx with every byte kept stands for the .syx's bytes (converting
// keeps them all), so each subcommand's status, output and files written (offsets
// included) are the .syx's.
class CliTakesMidi : public Cli, public testing::WithParamInterface<std::vector<std::string>> {
 protected:
  // All that a run on input gives, with input's name written as @.
  std::string RunOn(const std::string& input) {
    std::vector<std::string> args = GetParam();
    std::replace(args.begin(), args.end(), std::string("@"), input);
    const CliRun r = Run(args);
    std::string all = std::to_string(r.status) + r.out + r.err;
    for (const fs::path& p : std::set<fs::path>(fs::directory_iterator(dir_), {})) {
      if (p.stem() != "x") all += p.filename().string() + Slurp(p);
      if (p.stem() != "x") fs::remove(p);
    }
    for (std::size_t at; (at = all.find(input)) != std::string::npos;) all.replace(at, input.size(), "@");
    return all;
  }
};

TEST_P(CliTakesMidi, AsTheSysexItHolds) {
  Write("x.syx", Cat({{0x12, 0xF8}, dumpgen::GenerateDump({.slotCount = 3, .activeSensingEveryBytes = 300})}));
  ASSERT_EQ(Run({"convert", "--keep-stray", "x.syx", "x.MID"}).status, 0);
  const std::string raw = RunOn("x.syx");
  EXPECT_GT(raw.size(), 300u);
  EXPECT_EQ(RunOn("x.MID"), raw);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliTakesMidi,
                         testing::Values(std::vector<std::string>{"inspect", "@"},
                                         std::vector<std::string>{"inspect", "--json", "@"},
                                         std::vector<std::string>{"split", "--base", "out", "@"},
                                         std::vector<std::string>{"combine", "-o", "out", "@"}),
                         [](const auto& p) { return p.param[0] + std::to_string(p.param.size()); });

struct Refusal {
  std::vector<std::string> args;
  int status;
  const char* errorHas;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << testing::PrintToString(r.args); }

class CliRefuses : public Cli, public testing::WithParamInterface<Refusal> {};

TEST_P(CliRefuses, WithItsStatusAndMessageAndWritesOrCreatesNothing) {
  Write("a.syx", Msg(0x40, 0));
  Write("sensing.syx", {0xFE});
  Write("bad.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'});
  const CliRun r = Run(GetParam().args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_NE(r.err.find(GetParam().errorHas), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("block"), std::string::npos) << "nothing sent";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRefuses,
    testing::Values(Refusal{{"send", "--dry-run", "a.syx", "missing.syx"}, 2, "missing.syx"},
                    Refusal{{"combine", "-o", "out", "a.syx", "a.syx"}, 1, "A duplicate piece of data was found"},
                    Refusal{{"combine", "-o", "out", "sensing.syx"}, 1, "No data has been stored in the buffer yet."},
                    Refusal{{"combine", "-o", "out", "a.syx", "new\nline.syx"}, 2, "holds a line break"},
                    Refusal{{"split", "a.syx", "bad.mid"}, 2,
                            "bad.mid: not a readable Standard MIDI File: at byte offset 14,"},
                    Refusal{{"frobnicate"}, 2, "subcommand"}));

}  // namespace
