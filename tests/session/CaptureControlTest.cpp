// Start, Stop and Save as a user runs them: scripted dialogs, received bytes fed to the
// parser as the receive loop feeds them, and real files in a fresh folder.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "DumpGenerator.h"
#include "filelist/ListText.h"
#include "session/CaptureSession.h"

namespace {

namespace fs = std::filesystem;

// 15 bytes: F0 41 10 00 03 12, four address bytes, three data bytes, checksum, F7.
Bytes Message(int a0, int a1, std::size_t dataBytes = 3) {
  const std::uint8_t address[4] = {static_cast<std::uint8_t>(a0), static_cast<std::uint8_t>(a1), 0, 0};
  return dumpgen::DataSetMessage(0x10, address, Bytes(dataBytes, 0x21));
}
Bytes Pattern(int slotIndex, std::size_t dataBytes = 3) { return Message(0x40 + slotIndex, 0, dataBytes); }
Bytes Settings(int slotIndex) { return Message(0x14, slotIndex); }

class Capture : public testing::Test, public CaptureSession {};

struct Stream {
  const char* name;
  Bytes before, after;  // around one pattern message, the only piece
  bool warns;
};
void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }
class TotalsCheck : public Capture, public testing::WithParamInterface<Stream> {};

TEST_P(TotalsCheck, WarnsOnlyWhenTwoOrMoreBytesEndTheStreamOutsideAnyPiece) {
  control.StartClicked();
  const Bytes piece = Cat({GetParam().before, Pattern(4)});
  Receive(Cat({piece, GetParam().after}));
  dialogs.paths = {At("T")};
  control.StopClicked();
  EXPECT_EQ(Shown(), GetParam().warns ? Strings{TotalsWarning(piece.size() + GetParam().after.size(), piece.size())}
                                      : Strings{});
}

Bytes BadChecksum() {
  Bytes m = Pattern(9);
  m[m.size() - 2] ^= 1;
  return m;
}
INSTANTIATE_TEST_SUITE_P(Tails, TotalsCheck,
                         testing::Values(Stream{"OneStray", {}, {0x00}, false},
                                         Stream{"TwoStray", {}, {0x00, 0x01}, true},
                                         Stream{"StrayInFront", {0x00, 0x01, 0x02}, {}, false},
                                         Stream{"BadLastMessage", {}, BadChecksum(), true}),
                         [](const auto& p) { return std::string(p.param.name); });

class StartOver : public Capture, public testing::WithParamInterface<roles::Answer> {};

TEST_P(StartOver, AsksFirstAndOnYesEmptiesTheRightThreeBoxesAndLogsAfresh) {
  const bool yes = GetParam() == roles::Answer::Yes;
  control.StartClicked();
  Receive(Pattern(0));
  filesBox.SetText("A.SYX\r\n");
  const std::string pieces = piecesBox.Text(), dev = reportBox.Text();
  dialogs.answers = {GetParam()};
  control.StartClicked();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text,
            "WARNING: If you start over, you will lose all the data that is in the right three boxes.  Are you sure "
            "you want to start over?");
  EXPECT_EQ(dialogs.messages[1].title, "WARNING");
  EXPECT_EQ(dialogs.messages[1].buttons, roles::Buttons::YesNoCancel);
  EXPECT_EQ(filesBox.Text(), "A.SYX\r\n");
  EXPECT_EQ(piecesBox.Text() + reportBox.Text(), yes ? "" : pieces + dev);
  Receive(Pattern(1));
  dialogs.paths = {At("B")};
  control.StopClicked();
  EXPECT_EQ(Read("B.SYX"), yes ? Pattern(1) : Cat({Pattern(0), Pattern(1)}));
}
INSTANTIATE_TEST_SUITE_P(Answers, StartOver, testing::Values(roles::Answer::Yes, roles::Answer::Cancel),
                         [](const auto& p) { return std::string(p.index == 0 ? "Yes" : "Cancel"); });

TEST_F(Capture, SaveCopiesTheLogSoFarSaysWhenThereIsNothingToSaveAndWhenTheCopyFails) {
  control.StopClicked();  // in Idle
  control.SaveClicked();  // at program start
  control.StartClicked();
  control.SaveClicked();  // before a byte arrived
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  Receive(Pattern(0));
  fs::create_directory(dir / "F.SYX");  // a name the copy cannot replace
  dialogs.paths = {std::nullopt, At("MID.syx"), At("F")};
  control.SaveClicked();  // cancelled without a word
  control.SaveClicked();
  EXPECT_EQ(Read("MID.syx"), Pattern(0)) << "the log reaches the disk before the copy";
  control.SaveClicked();
  EXPECT_TRUE(fs::is_directory(dir / "F.SYX"));
  EXPECT_TRUE(flags.RecordingActive);
  // A Save in the middle of a capture once closed the log, and all that came after it
  // was missing from the capture's overall file.
  Receive(Pattern(1));
  dialogs.paths = {At("LATER")};
  control.SaveClicked();
  EXPECT_EQ(Read("LATER.SYX"), Cat({Pattern(0), Pattern(1)}));
  EXPECT_EQ(Shown(), (Strings{"You must press START first before you can save the data.",
                              "No data has been stored in the buffer yet.", "No data has been stored in the buffer yet.",
                              "Could not copy to " + At("F.SYX") + "!"}));
}

// A Stop cancelled keeps the capture: the window's capture test.
TEST_F(Capture, StopWithNothingReceivedCountsNothingAndEmptiesNoFile) {
  control.StartClicked();
  Receive(Pattern(0));
  dialogs.paths = {At("C"), At("E.SYX"), At("NEW")};
  control.StopClicked();
  // An old file of the name chosen is kept, and its bytes are not taken for totals.
  WriteBytes(dir / "E.SYX", {1, 2, 3});
  for (int i = 0; i < 2; ++i) {
    control.StartClicked();
    control.StopClicked();
  }
  EXPECT_EQ(Read("E.SYX"), (Bytes{1, 2, 3}));
  EXPECT_EQ(Read("NEW.SYX"), Bytes{});
  Strings titles;
  for (const auto& d : dialogs.fileDialogs) titles.push_back(d.title);
  // No piece dialog follows.
  EXPECT_EQ(titles, (Strings{"Save Overall SYX File - 15 bytes", "Save Overall SYX File - 0 bytes",
                             "Save Overall SYX File - 0 bytes"}));
  EXPECT_EQ(Shown(), Strings{"Nothing was received in this capture, so " + At("E.SYX") + " was left as it was."});
  EXPECT_FALSE(flags.RecordingActive);
}

// A piece too long for a piece file, or a settings file that cannot replace a folder.
class FailedPiece : public Capture, public testing::WithParamInterface<bool> {};

TEST_P(FailedPiece, IsReportedByNameAndTheNextSlotIsStillSaved) {
  const bool tooLong = GetParam();
  control.StartClicked();
  // 12 bytes of message around 32756 data bytes: one byte past what a piece file holds.
  Receive(Cat({Pattern(0, tooLong ? 32756 : 3), Settings(0), Pattern(1), Settings(1)}));
  if (!tooLong) fs::create_directory(dir / "F_U01S.SYX");
  dialogs.paths = {At("O"), At("F"), At("G")};
  control.StopClicked();
  EXPECT_EQ(Shown(), (Strings{tooLong ? At("F_U01P.SYX") + " was not written: the piece holds 32768 bytes, more "
                                                          "than the 32767 a piece file may hold."
                                      : "I/O Error accessing file " + At("F_U01S.SYX"),
                              "Operation cancelled."}));
  EXPECT_EQ(fs::exists(dir / "F_U01P.SYX"), !tooLong);
  EXPECT_EQ(fs::exists(dir / "F_U01S.SYX"), !tooLong) << "no settings file after a failed pattern file";
  EXPECT_EQ(Read("G_U02S.SYX"), Settings(1));
}
INSTANTIATE_TEST_SUITE_P(Faults, FailedPiece, testing::Bool(),
                         [](const auto& p) { return p.param ? "PatternTooLong" : "SettingsOnAFolder"; });

// Fifty complete slots saved in a deep folder whose name is all é: the lines of the
// 100 piece files, 128 characters each but far more bytes, fill the Files box's 8192
// characters exactly with the 64th. The box's refusal of the others is no write error:
// every file is written, and the box says it is full once for each unlisted one.
TEST_F(Capture, AFullFilesBoxLeavesPieceFilesUnlistedNotUnwritten) {
  const std::size_t rest = dir.string().size() + std::string("/x/P_U01P.SYX\r\n").size();
  ASSERT_LT(rest, 128u);
  std::string folder = "x";
  for (std::size_t length = rest; length < 128; ++length) folder += "\xC3\xA9";
  fs::create_directory(dir / folder);
  Bytes dump;
  for (int s = 0; s < 50; ++s) dump = Cat({dump, Pattern(s), Settings(s)});
  control.StartClicked();
  Receive(dump);
  dialogs.paths = {At("DUMP")};
  dialogs.paths.insert(dialogs.paths.end(), 50, (dir / folder / "P").string());
  control.StopClicked();
  for (int s = 0; s < 50; ++s) {
    const std::string stem = folder + "/P_U" + std::to_string((s + 1) / 10) + std::to_string((s + 1) % 10);
    EXPECT_EQ(Read(stem + "P.SYX"), Pattern(s)) << s;
    EXPECT_EQ(Read(stem + "S.SYX"), Settings(s)) << s;
  }
  EXPECT_EQ(filelist::CompleteLines(filesBox.Text()).size(), 64u);
  EXPECT_EQ(Shown(), Strings(36, "Too many files added!"));
}

TEST_F(Capture, ClicksFromTheEventPumpingOfAStopOrAnAddAreIgnored) {
  control.StartClicked();
  Receive(Cat({Pattern(0), Settings(0), Pattern(1), Settings(1)}));
  bool reset = false;
  pump.onPump = [&] {
    control.StartClicked();
    control.StopClicked();
    control.SaveClicked();
    // As an Add's reload would, once: the rest of the save must still write U02.
    if (!std::exchange(reset, true)) parse.ResetPieceStore();
  };
  dialogs.paths = {At("R"), At("P"), At("P")};
  control.StopClicked();
  EXPECT_EQ(Read("P_U02P.SYX"), Pattern(1));
  EXPECT_EQ(Read("P_U02S.SYX"), Settings(1));

  WriteBytes(dir / "A.SYX", Pattern(5));
  dialogs.paths = {At("A.SYX")};
  list.AddClicked();  // its reload sets RecordingActive
  EXPECT_EQ(dialogs.messages.size(), 1u) << "no question or message from a nested click";
  EXPECT_EQ(dialogs.fileDialogs.size(), 4u);
  EXPECT_FALSE(flags.RecordingActive);
}

}  // namespace
