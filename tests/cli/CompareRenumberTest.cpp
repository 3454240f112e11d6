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

INSTANTIATE_TEST_SUITE_P(
    Renumber, CompareRenumber,
    testing::Values(
        // 75 + 53 = 128: checksum 0. 20 + 11 + 5 = 36: 92. The byte in front, the active
        // sensing and the message of no slot stay.
        CliRow{"MovesEveryMessageOfTheSlotFromAMidiFile", Cat({{0x01}, kP7, kS7, kNoSlot}), {},
               "$CLI convert -q --keep-stray a.syx a.mid >/dev/null && $CLI renumber --map U07=U12 -o out - <a.mid", 0, "",
               "vezorizer-cli: out.SYX: 2 messages rewritten\n",
               Cat({{0x01, 0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x4B, 0, 0, 0, 0x35, 0xFE, 0x00, 0xF7},
                    {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0x0B, 0, 0, 0x05, 0x5C, 0xF7}, kNoSlot})},
        CliRow{"InspectFindsThemInTheirNewSlotWithGoodChecksums", Cat({{0x01}, kP7, kS7, kNoSlot}), {},
               "$CLI renumber -q --map U07=U12 -o out a.syx && $CLI inspect --json out.SYX", 0,
               R"({"messages": [{"file": "out.SYX", "offset": 1, "address": [75, 0, 0, 0], "data_count": 2,
                   "checksum": {"received": 0, "expected": 0, "ok": true}, "outcome": "new", "user": 12, "kind": "pattern",
                   "report": "4B000000 2 BYTES."}, {"file": "out.SYX", "offset": 15, "address": [20, 11, 0, 0],
                   "data_count": 2, "checksum": {"received": 92, "expected": 92, "ok": true}, "outcome": "new", "user": 12,
                   "kind": "settings", "report": "140B0000 2 BYTES."}, {"file": "out.SYX", "offset": 28,
                   "address": [114, 0, 0, 0], "data_count": 2, "checksum": {"received": 13, "expected": 13, "ok": true},
                   "outcome": "no-piece", "user": null, "kind": null, "report": "72000000 2 BYTES."}],
                   "slots": [{"user": 12, "pattern_bytes": 14, "settings_bytes": 13}], "pieces_box": "U12\r\n",
                   "pending_bytes": 13, "logged_bytes": 40})",
               "", Cat({{0x01, 0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x4B, 0, 0, 0, 0x35, 0xFE, 0x00, 0xF7},
                        {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x14, 0x0B, 0, 0, 0x05, 0x5C, 0xF7}, kNoSlot})},
        // 65 + 1 = 66: 62; 64 + 1 = 65: 63. The device ID goes into every message.
        CliRow{"SwapsAndSetsTheDeviceIdOnStandardOutput", Cat({kP1, kP2, kNoSlot}), {},
               "$CLI renumber --map U01=U02,U02=U01 --device-id 0x1F -q -o - a.syx >out.SYX", 0, "", "",
               {0xF0, 0x41, 0x1F, 0x00, 0x03, 0x12, 0x41, 0, 0, 0, 0x01, 0x3E, 0xF7,
                0xF0, 0x41, 0x1F, 0x00, 0x03, 0x12, 0x40, 0, 0, 0, 0x01, 0x3F, 0xF7,
                0xF0, 0x41, 0x1F, 0x00, 0x03, 0x12, 0x72, 0, 0, 0, 0x01, 0x0D, 0xF7}},
        // Settings name the slot in their second address byte: 20 + 49 + 5 = 74: 54.
        CliRow{"MovesSettingsToTheLastSlotWithADecimalDeviceId", kS1, {}, "$CLI renumber --map U01=U50 --device-id 17 -q -o out a.syx",
               0, "", "", {0xF0, 0x41, 0x11, 0x00, 0x03, 0x12, 0x14, 0x31, 0, 0, 0x05, 0x36, 0xF7}},
        // 76 + 1 = 77: 51.
        CliRow{"TakesAHeldSlotOnlyWhenItMovesOn", Cat({kP7, kP12}), {},
               "$CLI renumber --map U07=U12 -o out a.syx; test $? = 1 && $CLI renumber -q --map U07=U12,U12=U13 -o out a.syx", 0, "",
               "vezorizer-cli: a.syx: holds U12 already, and it is not moved away; nothing written\n",
               {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x4B, 0, 0, 0, 0x35, 0xFE, 0x00, 0xF7,
                0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x4C, 0, 0, 0, 0x01, 0x33, 0xF7}},
        CliRow{"RefusesASlotNotThereAndABadChecksum", kP1, Cat({kP1, kBad}),
               "$CLI renumber --map U03=U04 -o out a.syx; test $? = 1 && $CLI renumber --device-id 1 -o out b.syx", 1, "",
               "vezorizer-cli: a.syx: holds nothing of U03 to move; nothing written\n"
               "vezorizer-cli: b.syx: holds 1 messages with a bad checksum, which renumbering would make look whole; "
               "nothing written\n", {}},
        CliRow{"BadUsageNamesTheValue", kP1, {},
               "for m in U7=U12 U01=U02,U01=U03 U01=U03,U02=U03; do $CLI renumber --map $m -o out a.syx; test $? = 2 || exit 9;"
               "done; $CLI renumber --device-id 32 -o out a.syx; test $? = 2 && $CLI renumber -o out a.syx;"
               "test $? = 2 && $CLI renumber --map U01=U02 -o a.syx a.syx", 2, "",
               "vezorizer-cli: --map: 'U7=U12' is not FROM=TO, two user slots from U01 to U50 (U07=U12)\n"
               "vezorizer-cli: --map: 'U01=U03' moves U01 a second time\n"
               "vezorizer-cli: --map: 'U02=U03' moves a second slot to U03\n"
               "vezorizer-cli: --device-id: '32' is not a device ID byte from 0 to 31 (decimal, or hex as 0x10; the "
               "MC-303's default unit number 17 is the byte 16)\n"
               "vezorizer-cli: nothing to change: give --map, --device-id or both (see vezorizer-cli help renumber)\n"
               "vezorizer-cli: a.syx: is the same file as the input a.syx; nothing written\n", {}}),
    [](const testing::TestParamInfo<CliRow>& p) { return std::string(p.param.name); });

}  // namespace
