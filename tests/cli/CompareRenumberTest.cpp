// vezorizer-cli compare and renumber, run as a user runs them: one table each, every
// expected byte worked out by hand.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/ParserRig.h"
#include "support/RunCli.h"

namespace {

// Data-set messages of device 0x10 with one data byte; the checksum is
// (128 - (address + data) % 128) % 128.
const Bytes kP1 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 0x01, 0x3F, 0xF7};  // 64 + 1 = 65; 63
const Bytes kP2 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x41, 0, 0, 0, 0x01, 0x3E, 0xF7};  // 65 + 1 = 66; 62
const Bytes kP2b = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x41, 0, 0, 0, 0x02, 0x3D, 0xF7};  // 65 + 2 = 67; 61
const Bytes kS1 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0, 0, 0, 0x05, 0x67, 0xF7};  // 20 + 5 = 25; 103
// An active sensing byte inside: 70 + 53 = 123; 5.
const Bytes kP7 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x46, 0, 0, 0, 0x35, 0xFE, 0x05, 0xF7};
const Bytes kS7 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0x06, 0, 0, 0x05, 0x61, 0xF7};  // 20 + 6 + 5 = 31; 97
const Bytes kP12 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x4B, 0, 0, 0, 0x01, 0x34, 0xF7};  // 75 + 1 = 76; 52
const Bytes kNoSlot = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x72, 0, 0, 0, 0x01, 0x0D, 0xF7};  // 114 + 1 = 115; 13
const Bytes kBad = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 0x01, 0x00, 0xF7};  // 63 is due

struct CliRow {
  const char* name;
  Bytes a;  // a.syx
  Bytes b;  // b.syx
  const char* run;
  int status;
  const char* out;   // stdout exactly; JSON is compared as JSON
  const char* err;   // stderr exactly
  Bytes written;     // what out.SYX must hold; empty: there must be no out.SYX
};
void PrintTo(const CliRow& row, std::ostream* os) { *os << row.name; }

class CompareRenumber : public testing::TestWithParam<CliRow> {};

TEST_P(CompareRenumber, Runs) {
  const CliRow& row = GetParam();
  const auto dir = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  WriteBytes(dir / "a.syx", row.a);
  WriteBytes(dir / "b.syx", row.b);
  const CliRun r = RunShell(row.run, dir);
  EXPECT_EQ(r.status, row.status);
  if (row.out[0] == '{') EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(row.out));
  else EXPECT_EQ(r.out, row.out);
  EXPECT_EQ(r.err, row.err);
  EXPECT_EQ(Slurp(dir / "out.SYX"), std::string(row.written.begin(), row.written.end()));
  EXPECT_EQ(row.written.empty(), !std::filesystem::exists(dir / "out.SYX"));
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Compare, CompareRenumber,
    testing::Values(
        CliRow{"RealTimeBytesAreNoPartOfAPiece", Cat({kP1, kS1, kP2}), Cat({kP1, {0xFE}, kS1, kP2}),
               "$CLI compare a.syx b.syx", 0, "3 same, 0 differ, 0 only in A, 0 only in B\n", "", {}},
        CliRow{"EachPieceTellsHowItDiffersInSlotOrder", Cat({kP1, kS1, kP2, kS7}), Cat({kP2b, kS1, kP1, kP7, kP12}),
               "$CLI compare a.syx b.syx", 1,
               "U02 pattern differs\nU07 pattern only-b\nU07 settings only-a\nU12 pattern only-b\n"
               "2 same, 1 differ, 1 only in A, 2 only in B\n", "", {}},
        CliRow{"JsonListsEveryPiece", Cat({kP1, kS1, kP2, kS7}), Cat({kP2b, kS1, kP1, kP7, kP12}),
               "$CLI compare --json a.syx b.syx", 1,
               R"({"parts": [{"user": 1, "kind": "pattern", "status": "same"},
                   {"user": 1, "kind": "settings", "status": "same"}, {"user": 2, "kind": "pattern", "status": "differs"},
                   {"user": 7, "kind": "pattern", "status": "only-b"}, {"user": 7, "kind": "settings", "status": "only-a"},
                   {"user": 12, "kind": "pattern", "status": "only-b"}], "same": 2, "differ": 1, "only_a": 1, "only_b": 2})",
               "", {}},
        // The byte waiting in front of U01's pattern is part of it; so is a message continuing a piece.
        CliRow{"APieceHoldsWhatCameInFrontAndEveryMessage", Cat({{0x01}, kP1, kS1}), Cat({kP1, kS1, kS1}),
               "$CLI compare a.syx b.syx", 1, "U01 pattern differs\nU01 settings differs\n0 same, 2 differ, 0 only in A, 0 only in B\n",
               "", {}},
        // a's duplicate of U01 is filed with U01 as b's continuing message is; a bad message belongs to none.
        CliRow{"TroubleIsComparedAsFedAndSaidOncePerFile", Cat({kP1, kP2, kP1, kBad, kBad}), Cat({kP1, kP1, kP2}),
               "$CLI compare a.syx b.syx", 0, "2 same, 0 differ, 0 only in A, 0 only in B\n",
               "vezorizer-cli: a.syx: 2 bad checksums, 1 duplicates; compared as fed\n", {}},
        CliRow{"StandardInputAndAMidiFile", Cat({{0xFE}, kP1}), Cat({kP1, kS1}),
               "$CLI convert -q --keep-stray a.syx a.mid >/dev/null && $CLI compare -q a.mid - <b.syx", 1,
               "U01 settings only-b\n1 same, 0 differ, 0 only in A, 1 only in B\n", "", {}},
        CliRow{"AFileThatCannotBeRead", kP1, kP1, "$CLI compare --json a.syx missing.syx", 2,
               R"({"parts": [], "same": 0, "differ": 0, "only_a": 0, "only_b": 0,
                   "error": "missing.syx: No such file or directory"})",
               "vezorizer-cli: missing.syx: No such file or directory\n", {}}),
    [](const testing::TestParamInfo<CliRow>& p) { return std::string(p.param.name); });

}  // namespace
