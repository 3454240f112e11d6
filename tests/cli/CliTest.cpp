// vezorizer-cli inspect, split, combine and send, run as a user runs them: arguments,
// exit status, text and JSON output. What the core makes of the bytes is tested there.
#include <gtest/gtest.h>

#include <fstream>
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
  EXPECT_EQ(r.status, 1) << "written, but not all was well";
  EXPECT_EQ(r.out, "set_U01P.SYX\nset_U01S.SYX\n");
  EXPECT_NE(r.err.find("set.syx: at offset 55: U01 pattern duplicate"), std::string::npos) << r.err;  // 2 + 4 x 13 + 1
  EXPECT_EQ(Read("set_U01P.SYX"), Cat({junk, p1, p1}));
  EXPECT_EQ(Read("set_U01S.SYX"), s1);

  // --json says what was written, for split, combine and convert alike; -q keeps the error.
  r = Run({"split", "-q", "--json", "--base", "j", "set.syx"});
  const std::string said = "set.syx: 0 bad checksums, 1 duplicates; the piece files are written as Stop writes them, "
                           "a damaged message in the file of the piece after it";
  EXPECT_EQ(r.err, "vezorizer-cli: " + said + "\n");
  EXPECT_EQ(json::parse(r.out), json({{"files", {"j_U01P.SYX", "j_U01S.SYX"}}, {"error", said}}));
  r = Run({"combine", "--json", "-o", "c", "set_U01P.SYX", "set_U01S.SYX"});
  EXPECT_EQ(json::parse(r.out), json::parse(R"({"output": "c.SYX", "bytes": 41, "files": ["set_U01S.SYX",
      "set_U01P.SYX"], "error": null})"));  // settings first, as the list sorts them
  r = Run({"convert", "--json", "c.SYX", "c.mid"});
  EXPECT_EQ(json::parse(r.out)["output"], "c.mid");
}

TEST_F(Cli, SendPrintsItsBlocksAndWhatStaysUnsentAndTellsATooLongBlockInJson) {
  Write("a.syx", Cat({Sysex(150), {0xF0, 0x01, 0x02}}));
  Write("b.syx", Cat({{0x03, 0xF7}, Sysex(100)}));
  Write("c.syx", Cat({Sysex(40), {0xF0, 0x05}}));
  // a: 150 paced, its tail of 3 waits; b: 3 + 2 + 100 = 105 go as its rest; c: 40 + 2
  // never end in an F7 that is followed by anything: 153 + 102 + 42 = 297 = 255 + 42.
  EXPECT_EQ(Run({"send", "--dry-run", "a.syx", "b.syx", "c.syx"}).out,
            "block 1: 150 bytes\nblock 2: 105 bytes (end of file)\n255 bytes sent in 2 blocks, 42 bytes left unsent\n");
  // b's rest is paced all the same: another file follows.
  EXPECT_EQ(json::parse(Run({"send", "--dry-run", "--json", "a.syx", "b.syx", "c.syx"}).out)["blocks"],
            json::parse(R"([{"bytes": 150, "paced": true}, {"bytes": 105, "paced": true}])"));

  // The buffer size comes from the installed window's SETTINGS.DAT (4 x 300 is the first
  // end past 1024) unless the current folder holds one (3 x 300 > 600).
  Write("five.syx", Cat({Sysex(300), Sysex(300), Sysex(300), Sysex(300), Sysex(300)}));
  fs::create_directories(dir_ / "user" / "Vezorizer");
  Write("user/Vezorizer/SETTINGS.DAT", {'1', '0', '2', '4', '\r', '\n'});
  EXPECT_EQ(Run({"send", "--dry-run", "five.syx"}).out,
            "block 1: 1200 bytes\nblock 2: 300 bytes (end of file)\n1500 bytes sent in 2 blocks, 0 bytes left unsent\n");
  Write("SETTINGS.DAT", {'6', '0', '0', '\r', '\n'});
  EXPECT_EQ(Run({"send", "--dry-run", "five.syx"}).out,
            "block 1: 900 bytes\nblock 2: 600 bytes (end of file)\n1500 bytes sent in 2 blocks, 0 bytes left unsent\n");
  // Its second item is the pause, said when it is not 200, also beside --buffer-size;
  // --pause overrides it.
  Write("SETTINGS.DAT", {'6', '0', '0', ',', '4', '5', '\r', '\n'});
  EXPECT_NE(Run({"send", "--dry-run", "--buffer-size", "9", "five.syx"}).err.find("Pause 45 ms, from ./SETTINGS.DAT"),
            std::string::npos);
  EXPECT_EQ(Run({"send", "--dry-run", "--pause", "200", "five.syx"}).err.find("Pause"), std::string::npos);

  // 200 + 3 x 4096 = 12488 pending; the fourth 4096 brings the 16385th byte before any
  // 0xF7 past 16384.
  Write("long.syx", Cat({Sysex(200), Sysex(4096), Sysex(4096), Sysex(4096), Sysex(4096), Sysex(4096)}));
  const CliRun r = Run({"send", "--dry-run", "--json", "--buffer-size", "16383", "long.syx"});
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
  EXPECT_GT(raw.size(), 200u);  // every run says something of the dump
  EXPECT_EQ(RunOn("x.MID"), raw);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliTakesMidi,
                         testing::Values(std::vector<std::string>{"inspect", "@"},
                                         std::vector<std::string>{"inspect", "--json", "@"},
                                         std::vector<std::string>{"split", "--base", "out", "@"},
                                         std::vector<std::string>{"combine", "-o", "out", "@"},
                                         std::vector<std::string>{"send", "--dry-run", "@"}),
                         [](const auto& p) { return p.param[0] + std::to_string(p.param.size()); });

// Hostile cases, run as a shell user would, each in a folder holding a.syx (slot U01
// whole, an active sensing byte between its parts), want.syx (a.syx less that byte),
// half.syx (a pattern alone) and big.syx (U01 small, U02's pattern 1512 bytes). Grouped
// by rule: what is written, what is refused, what stderr names, the exit status. No new
// file of the safe writing may be left behind by any of them.
struct Hostile {
  const char* name;
  const char* run;
  int status;
  const char* stderrNames;  // "" when stderr must be empty, nullptr when it does not matter
  const char* check;        // shell, exits 0 when the files and out.txt are right
};
void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

class CliHostile : public Cli, public testing::WithParamInterface<Hostile> {};

TEST_P(CliHostile, IsMetSoundly) {
  const Bytes p1 = Msg(0x40, 0), s1 = Msg(0x14, 0);
  Write("a.syx", Cat({p1, {0xFE}, s1}));
  Write("want.syx", Cat({p1, s1}));
  Write("half.syx", p1);
  const std::uint8_t u02[4] = {0x41, 0, 0, 0};
  Write("big.syx", Cat({p1, s1, dumpgen::DataSetMessage(0x10, u02, Bytes(1500, 1)), Msg(0x14, 1)}));
  const CliRun r = RunShell(GetParam().run, dir_);
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  if (const char* names = GetParam().stderrNames; names == nullptr) {
  } else if (*names == '\0') {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(names), std::string::npos) << r.err;
  }
  if (GetParam().check != nullptr) {
    std::ofstream(dir_ / "out.txt") << r.out;
    std::ofstream(dir_ / "err.txt") << r.err;
    EXPECT_EQ(RunShell(GetParam().check, dir_).status, 0) << GetParam().check << "\n" << r.out;
  }
  EXPECT_EQ(RunShell("find . -name '.vezorizer-*' | grep .", dir_).status, 1) << "a new file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliHostile,
    testing::Values(
        // What is written: through a link, over a file of other modes or names, to what is
        // not a plain file, to and from the standard streams, only ever all or nothing.
        Hostile{"ALinkIsWrittenThrough", "printf o >t.SYX; ln -s t.SYX l.SYX; $CLI combine -o l.SYX a.syx", 0, "",
                "test -L l.SYX && cmp t.SYX want.syx"},
        Hostile{"AFileKeepsItsMode", "printf o >p.SYX; chmod 640 p.SYX; $CLI combine -o p.SYX a.syx", 0, "",
                "test $(stat -c %a p.SYX) = 640 && cmp p.SYX want.syx"},
        Hostile{"ANewFileTakesTheUmask", "umask 027; $CLI combine -o n.SYX a.syx", 0, "", "test $(stat -c %a n.SYX) = 640"},
        Hostile{"AHardLinkStaysOneFile", "printf o >h.SYX; ln h.SYX g.SYX; $CLI combine -o h.SYX a.syx", 0, "",
                "cmp g.SYX want.syx"},
        Hostile{"AFifoIsWrittenNotReplaced", "mkfifo f.mid; cat f.mid >got & $CLI convert want.syx f.mid; s=$?; wait; exit $s",
                0, "", "test -p f.mid && test $(head -c4 got) = MThd"},
        Hostile{"ANameForStandardOutputIsIt", "ln -s /proc/self/fd/1 o.mid; $CLI convert want.syx o.mid", 0, "",
                "test -L o.mid && test $(head -c4 out.txt) = MThd"},
        Hostile{"ANameAsLongAsTheSystemTakes", "$CLI combine -o $(printf %0251d 0).SYX a.syx", 0, "",
                "cmp $(printf %0251d 0).SYX want.syx"},
        Hostile{"StandardStreams", "$CLI combine -q -o - - <a.syx >o && $CLI convert --keep-stray - - <a.syx | $CLI convert - b", 0,
                "", "cmp o want.syx && cmp b a.syx"},
        Hostile{"AFifoIsReadOnce", "mkfifo i; cat a.syx >i & $CLI send --dry-run i", 0, nullptr,
                "grep -q '^27 bytes sent in 1 blocks' out.txt"},
        Hostile{"SplitOnAFullDiskWritesNothing", "ulimit -f 2; trap '' XFSZ; $CLI split --base s big.syx", 2,
                "s_U02P.SYX: File too large; no piece file written", "! ls s_*"},
        Hostile{"CombineOnAFullDiskKeepsTheOldFile", "printf o >o.SYX; ulimit -f 2; trap '' XFSZ; $CLI combine -o o big.syx",
                2, "o.SYX: File too large", "test $(cat o.SYX) = o"},
        // What is refused, and how stderr names it.
        Hostile{"AReadOnlyFile", "printf o >r.SYX; chmod 444 r.SYX; $CLI combine -o r.SYX a.syx", 2,
                "vezorizer-cli: r.SYX: is read-only\n", "test $(cat r.SYX) = o"},
        Hostile{"AFolder", "mkdir d.SYX; $CLI combine -o d.SYX a.syx", 2, "d.SYX: is a directory", "test -d d.SYX"},
        // An output that is an input (by name, link, hard link or standard input) or another
        // output of the run: nothing is written.
        Hostile{"AnInputAsTheOutput",
                "cp a.syx b.SYX; ln -s a.syx l.SYX; $CLI combine -o b.SYX b.SYX; $CLI combine -o l a.syx;"
                "cp a.syx x_U01P.SYX; $CLI split --base x x_U01P.SYX; ln a.syx h_U01S.SYX; $CLI split --base h a.syx;"
                "cp a.syx m.mid; $CLI convert - m.mid <m.mid; ln -s k_U01P.SYX k_U01S.SYX; $CLI split --base k a.syx",
                2, "b.SYX: is the same file as the input b.SYX",
                "cmp a.syx b.SYX && grep -q 'l.SYX: is the same' err.txt && cmp x_U01P.SYX a.syx && ! ls x_U01S.SYX h_U01P.SYX "
                "k_U01P.SYX && grep -q 'x_U01P.SYX: is the same file as the input x_U01P.SYX' err.txt && "
                "grep -q 'h_U01S.SYX: is the same file as the input a.syx' err.txt && cmp m.mid a.syx && "
                "grep -q 'm.mid: is the same file as standard input' err.txt && "
                "grep -q 'k_U01S.SYX: is the same file as k_U01P.SYX, written before it; nothing written' err.txt"},
        Hostile{"AnEmptyName", "$CLI combine -o '' a.syx || $CLI split --base '' a.syx || $CLI convert a.syx ''", 2,
                "-o: the name is empty", "grep -q -- '--base: the name is empty' err.txt && ! test -e .SYX && ! ls _U*"},
        Hostile{"ValuesOutOfRange",
                "for v in -1 16384; do $CLI send --dry-run --buffer-size $v a.syx && exit 9; done;"
                "for v in 5001 -1 abc; do $CLI send --dry-run --pause $v a.syx && exit 9; done;"
                "$CLI send --dry-run --pause 0 a.syx && $CLI send --dry-run --pause 5000 a.syx || exit 9;"
                "for v in nan inf -1 86401; do $CLI capture --idle-timeout $v -o c && exit 9; done;"
                "$CLI send -p '' a.syx || $CLI capture --port '' -o c",
                2, "--port: the name is empty",
                "test $(grep -c '^vezorizer-cli: --' err.txt) = 11 && test $(grep -c '^vezorizer-cli: --pause' err.txt) = 3"},
        Hostile{"AConversionBothWays",
                "$CLI convert --keep-stray " VZ_EXAMPLES_DIR "/demo-dump.syx d.mid && $CLI convert d.mid d.syx && "
                "printf 'MThd\\0\\0\\0\\6\\0\\0\\0\\1\\1\\340MTrk\\0\\0\\0\\6\\201\\201\\201\\201\\1\\360' >b.mid;"
                "$CLI convert b.mid d.syx; $CLI split a.syx b.mid",
                2, "b.mid: not a readable Standard MIDI File: at byte offset 22",  // the five-byte delta
                "cmp d.syx " VZ_EXAMPLES_DIR "/demo-dump.syx && test $(grep -c 'b.mid: not a readable' err.txt) = 2 && "
                "! ls a_*"},
        Hostile{"AConversionThatMakesNoSense",
                "$CLI convert a.syx c.syx; test $? = 2 || exit 9; $CLI convert a.syx a.syx; test $? = 2 || exit 9;"
                "printf '\\376\\1' >s.syx; $CLI convert s.syx c.mid; test $? = 1 || exit 9;"
                "printf 'MThd\\0\\0\\0\\6\\0\\0\\0\\1\\1\\340MTrk\\0\\0\\0\\4\\0\\377/\\0' >e.mid; $CLI convert e.mid c.syx",
                1, "e.mid: holds no SysEx events; nothing written",
                "grep -q 'a.syx: not a Standard' err.txt && grep -q 'a.syx: is the same file' err.txt && "
                "grep -q 's.syx: left out 2 bytes' err.txt && grep -q 's.syx: holds no SysEx message' err.txt && "
                "! test -e c.syx && ! test -e c.mid"},
        // Not opened, then a read that fails (address 0 of the program's own memory).
        Hostile{"AnUnreadableSettingsFile",
                "printf '9\\r\\n' >SETTINGS.DAT; chmod 0 SETTINGS.DAT; test $(id -u) = 0 && u='setpriv --reuid=65534 "
                "--regid=65534 --clear-groups'; $u $CLI send --dry-run a.syx && ln -sf /proc/self/mem SETTINGS.DAT && "
                "$CLI send --dry-run a.syx",
                0, "vezorizer-cli: ./SETTINGS.DAT: cannot be read; the buffer size is 139",
                "test $(grep -c 'SETTINGS.DAT: cannot be read; the buffer size is 139' err.txt) = 2"},
        // Blocked on a producer that stalls or a FIFO no one reads, a send or a capture
        // still ends on a signal (HUP and QUIT end a capture as INT does), as the signal
        // would have ended it.
        // (e PID SIGNAL: once PID's signal thread runs, the signal; SIGKILL after 10 s.)
        Hostile{"ABlockedRunEndsOnASignal",
                "a() { [ -e /proc/$1 ] && ! grep -q 'State:.Z' /proc/$1/status; };"
                "e() { while a $1 && [ $(ls /proc/$1/task 2>/dev/null | wc -l) -lt 2 ]; do sleep 0.05; done; kill -$2 $1;"
                "n=0; while a $1 && [ $n -lt 100 ]; do sleep 0.1; n=$((n+1)); done; kill -KILL $1 2>/dev/null; wait $1; };"
                "mkfifo i o.SYX; sleep 60 >i & w=$!; $CLI send - <i & e $! TERM; s=$?; kill $w;"
                "$CLI capture -o o & e $! HUP; h=$?; $CLI capture -o o & e $! QUIT; echo $s $h $?",
                0, "vezorizer-cli: standard input: a signal ended the wait for it",
                "test \"$(cat out.txt)\" = '143 129 131' && test $(grep -c 'o.SYX: a signal ended the wait' err.txt) = 2"},
        Hostile{"AMissingFile", "$CLI send --dry-run a.syx missing.syx", 2, "missing.syx: No such file or directory",
                "! test -e missing.syx && ! grep -q block out.txt"},
        Hostile{"AFolderToRead", "mkdir d; $CLI inspect d", 2, "vezorizer-cli: d: is a directory", nullptr},
        Hostile{"AnInputPastTheLimit", "truncate -s 268435457 z; $CLI inspect z", 2, "z: is larger than 256 MiB", nullptr},
        Hostile{"StandardInputTwice", "$CLI inspect - - <a.syx", 2, "standard input: named more than once", nullptr},
        Hostile{"NoCompleteSlot", "$CLI split half.syx", 1,
                "half.syx: No user slot holds both its pattern data and its settings: nothing written.", "! ls half_*"},
        // F0 41 10 00 03 12 40 00 00 00 01, then the checksum 00 where 128 - 65 = 63 is due.
        Hostile{"ADuplicateOrABadChecksum",
                "printf '\\360A\\20\\0\\3\\22@\\0\\0\\0\\1\\0\\367' >bad.syx; $CLI combine -o o a.syx a.syx;"
                "test $? = 1 || exit 9; $CLI combine -o o bad.syx",
                1, "bad.syx: The checksum of a message in the file bad.syx is bad: the file is damaged",
                "grep -q 'a.syx: A duplicate piece of data was found' err.txt && ! test -e o.SYX"},
        Hostile{"NothingToSave", "printf '\\376' >s; $CLI combine -o o s", 1,
                "o.SYX: No data has been stored in the buffer yet.", "! test -e o.SYX"},
        // 100 piece files by names of some 220 characters: far past the window's box.
        Hostile{"ManyFilesByLongNames",
                "d=$PWD/$(printf %0150d 0); mkdir $d && $CLI split -q --base $d/s " VZ_EXAMPLES_DIR "/demo-dump.syx >/dev/null "
                "&& $CLI combine -o c $d/*.SYX",
                0, "", "test $(grep -c . out.txt) = 100"},
        Hostile{"ALineBreakInAName", "$CLI combine -o o a.syx \"$(printf 'a\\nb')\"", 2, "holds a line break", nullptr},
        Hostile{"AFullStandardOutput", "$CLI inspect a.syx >/dev/full", 2,
                "vezorizer-cli: standard output: No space left on device", nullptr},
        Hostile{"AClosedPipeEndsQuietly", "$CLI inspect big.syx | head -c1 >/dev/null", 0, "", nullptr},
        Hostile{"JsonStaysJson", "$CLI combine --json -o '' a.syx; $CLI inspect --json x", 2, nullptr,
                "test $(grep -c '\"error\": \"' out.txt) = 2"},
        // The conventions of a command-line tool.
        Hostile{"Version", "$CLI --version", 0, "", "grep -q '^vezorizer-cli [0-9]' out.txt"},
        Hostile{"AnUnknownSubcommand", "$CLI insp a.syx", 2, "unknown subcommand 'insp'; did you mean inspect?", nullptr},
        Hostile{"NoSubcommand", "$CLI", 2, "a subcommand is required", nullptr},
        Hostile{"HelpEverywhere",
                "for s in inspect split combine compare renumber convert ports send capture help; do "
                "$CLI $s -h | grep -q \"Usage: vezorizer-cli $s\" || exit 9; done; $CLI help send && $CLI help",
                0, "", "grep -q 'Usage: vezorizer-cli send' out.txt && grep -q '^Subcommands:' out.txt && "
                "$CLI ports -h | grep -q 'one JSON array'"},
        Hostile{"QuietAndLongOptions", "printf '9\\r\\n' >SETTINGS.DAT; $CLI send -q --dry-run -p 0 a.syx; "
                "$CLI combine --quiet --output o a.syx", 0, "", "cmp o.SYX want.syx"}),
    [](const testing::TestParamInfo<Hostile>& p) { return std::string(p.param.name); });

}  // namespace
