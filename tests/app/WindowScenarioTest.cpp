// Captures and the file list through the real window program, offscreen: the fake MIDI
// layer delivers a generated dump into the queued input buffers, the receive loop runs
// pass by pass, and every click and key reaches its handler through the window's own
// controls, nested in the loop's event processing as a user's would. Saved files are
// checked against what was sent, split here by the messages' addresses, not by the
// parser.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>
#include <string>
#include <vector>

#include "app/WindowRig.h"
#include "support/SplitByAddress.h"
#include "ui/TextBoxView.h"
#include "ui/fSplash.h"

namespace {

using namespace apptest;

// --- Capture ---

struct Tail {
  const char* name;
  Bytes bytes;  // logged after the last message, in no piece
  bool warns;
};
void PrintTo(const Tail& t, std::ostream* os) { *os << t.name; }

class CaptureThroughTheWindow : public Window, public testing::WithParamInterface<Tail> {};

TEST_P(CaptureThroughTheWindow, SavesTheDumpWholeAndInPiecesAndListsEveryPieceFile) {
  Add(File("OLD_U09P.SYX", Piece(9, false)));
  Press(w->bStart);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].title, "Press OK Button");
  for (const ui::TextBox* box : {&Boxes().tFiles, &Boxes().tPieces, &Boxes().tDev, &Boxes().tTraffic}) {
    EXPECT_EQ(box->Text(), "");
  }
  w->Timer1Tick();
  EXPECT_EQ(Boxes().tDev.Text(), "") << "the prompt stops blinking during a capture";

  // Eight slots, more than one 16384-byte input buffer, with active sensing between
  // messages as the device sends it.
  dumpgen::DumpOptions options;
  options.slotCount = 8;
  options.minPatternBytes = 1500;
  options.maxPatternBytes = 2500;
  options.activeSensingEveryBytes = 500;
  const Bytes dump = Cat({dumpgen::GenerateDump(options), GetParam().bytes});
  ASSERT_GT(dump.size(), 16384u);
  ASSERT_GT(std::count(dump.begin(), dump.end(), 0xFE), 20);
  Receive(dump);
  EXPECT_EQ(Boxes().tPieces.Text(), "U01\r\nU02\r\nU03\r\nU04\r\nU05\r\nU06\r\nU07\r\nU08\r\n");

  // The overall name without its extension; U02 cancelled; U04 under a base of its own.
  dialogs.paths = {At("DUMP"), At("SET.SYX"), std::nullopt, At("SET"), At("MY.syx"),
                   At("SET"),  At("SET"),     At("SET"),    At("SET")};
  Press(w->bStop);

  const Bytes sent = WithoutActiveSensing(dump);
  EXPECT_EQ(ReadFile(dir_ / "DUMP.SYX"), sent);
  Strings titles;
  for (const ShownFileDialog& d : dialogs.fileDialogs) titles.push_back(d.title);
  Strings expectedTitles{"Add SYX File", "Save Overall SYX File - " + std::to_string(sent.size()) + " bytes"};
  for (int u = 1; u <= 8; ++u) expectedTitles.push_back("Save Piece U0" + std::to_string(u));
  EXPECT_EQ(titles, expectedTitles);

  const SlotPieces pieces = SplitByAddress(sent);
  Strings settingsLines, patternLines;
  for (int s = 0; s < 8; ++s) {
    if (s == 1) continue;
    const std::string stem = At((s == 3 ? "MY_U0" : "SET_U0") + std::to_string(s + 1));
    EXPECT_EQ(ReadFile(stem + "P.SYX"), pieces.pattern.at(s)) << s;
    EXPECT_EQ(ReadFile(stem + "S.SYX"), pieces.settings.at(s)) << s;
    patternLines.push_back(stem + "P.SYX\r\n");
    settingsLines.push_back(stem + "S.SYX\r\n");
  }
  EXPECT_FALSE(fs::exists(At("SET_U02P.SYX")));
  // Settings files first, then pattern files, each by slot number.
  std::string list;
  for (const std::string& line : settingsLines) list += line;
  for (const std::string& line : patternLines) list += line;
  EXPECT_EQ(Boxes().tFiles.Text(), list);

  Strings expectedShown;
  if (GetParam().warns) {
    expectedShown.push_back(
        "WARNING: Total data recorded does not match all pieces data added up!   Total data recorded is " +
        std::to_string(sent.size()) + " bytes.  Pieces added up is " +
        std::to_string(sent.size() - GetParam().bytes.size()) + " bytes.");
  }
  expectedShown.push_back("Operation cancelled.");
  EXPECT_EQ(Shown(), expectedShown);

  EXPECT_FALSE(program->Flags().RecordingActive);
  EXPECT_EQ(Boxes().tDev.Text(), kPrompt);
  w->Timer1Tick();
  EXPECT_EQ(Boxes().tDev.Text(), "") << "the prompt blinks again";
}

// One stray byte after the last message is tolerated; two are not.
INSTANTIATE_TEST_SUITE_P(Tails, CaptureThroughTheWindow,
                         testing::Values(Tail{"Clean", {}, false}, Tail{"OneStrayByte", {0xF0}, false},
                                         Tail{"TwoStrayBytes", {0xF0, 0x41}, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Window, StartingOverAsksFirstAndACancelledSaveIsOfferedAgain) {
  dumpgen::DumpOptions options;
  options.slotCount = 2;
  const Bytes first = dumpgen::GenerateDump(options);
  options.firstSlot = 5;
  options.seed = 7;
  const Bytes second = dumpgen::GenerateDump(options);

  Press(w->bStart);
  Receive(first);
  const std::string pieces = Boxes().tPieces.Text(), report = Boxes().tDev.Text();
  ASSERT_EQ(pieces, "U01\r\nU02\r\n");
  dialogs.answers = {ui::Answer::No};
  Press(w->bStart);
  Press(w->bStart);  // no answer left: Cancel
  EXPECT_EQ(Boxes().tPieces.Text(), pieces);
  EXPECT_EQ(Boxes().tDev.Text(), report);
  dialogs.answers = {ui::Answer::Yes};
  Press(w->bStart);
  ASSERT_EQ(dialogs.messages.size(), 4u);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(dialogs.messages[i].title, "WARNING");
    EXPECT_EQ(dialogs.messages[i].buttons, ui::Buttons::YesNoCancel);
  }
  EXPECT_EQ(Boxes().tPieces.Text(), "");
  EXPECT_EQ(Boxes().tDev.Text(), "");
  EXPECT_EQ(Boxes().tTraffic.Text(), "");

  Receive(second);
  Press(w->bStop);  // the overall dialog cancelled
  EXPECT_EQ(Shown().back(), "Cancel was selected.");
  EXPECT_TRUE(program->Flags().RecordingActive);
  EXPECT_NE(Boxes().tDev.Text(), kPrompt);

  dialogs.paths = {At("AGAIN.SYX")};  // then every piece dialog cancelled
  Press(w->bStop);
  const Bytes sent = WithoutActiveSensing(second);
  ASSERT_EQ(dialogs.fileDialogs.size(), 4u);
  const std::string title = "Save Overall SYX File - " + std::to_string(sent.size()) + " bytes";
  EXPECT_EQ(dialogs.fileDialogs[0].title, title);
  EXPECT_EQ(dialogs.fileDialogs[1].title, title);
  EXPECT_EQ(ReadFile(At("AGAIN.SYX")), sent) << "only what came after starting over";
  EXPECT_EQ(dialogs.fileDialogs[3].title, "Save Piece U07");
  EXPECT_EQ(Boxes().tDev.Text(), kPrompt);
  EXPECT_FALSE(program->Flags().RecordingActive);
}

TEST_F(Window, StopInIdleAndSaveBeforeAnyByteOnlyExplainAndSaveCopiesWhatCameSoFar) {
  Press(w->bStop);
  EXPECT_EQ(Shown(), Strings{"You must press START first before you can save the data."});
  Press(w->bStart);
  Press(w->bSave);
  EXPECT_EQ(Shown().back(), "No data has been stored in the buffer yet.");
  EXPECT_TRUE(dialogs.fileDialogs.empty());

  const Bytes part = Cat({Piece(3, false), {0xFE}, Piece(3, true)});
  Receive(part);
  dialogs.paths = {At("SO-FAR")};
  Press(w->bSave);
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].title, "Save Overall SYX File - 28 bytes");  // two messages of 14
  EXPECT_EQ(ReadFile(At("SO-FAR.SYX")), WithoutActiveSensing(part));
  EXPECT_TRUE(program->Flags().RecordingActive) << "Save does not end the capture";
  EXPECT_EQ(Shown().size(), 2u);
}

// --- File list ---

TEST_F(Window, AddCombinesFilesAndRefusesClashesAndTheSameFileTwice) {
  std::vector<bool> addEnabledWhileLoading;
  duringPump = [&] {
    ui::fSplash* splash = program->ProgressWindow().Window();
    if (splash != nullptr && splash->isVisible()) addEnabledWhileLoading.push_back(w->bAdd->isEnabled());
  };
  const Bytes pattern = Piece(5, false), settings = Piece(5, true);
  const std::string a = File("A_U05P.SYX", Cat({{0xFE}, pattern}));
  Add(a);
  Add(File("B_U05S.SYX", settings));
  EXPECT_EQ(Listed(), (Strings{"B_U05S.SYX", "A_U05P.SYX"}));
  EXPECT_EQ(Boxes().tPieces.Text(), "U05\r\n");
  const Bytes combined = Cat({settings, pattern});
  EXPECT_EQ(Outfile(), combined) << "in list order, without FE";

  dialogs.paths = {At("BOTH")};
  Press(w->bSave);
  EXPECT_EQ(ReadFile(At("BOTH.SYX")), combined);
  EXPECT_EQ(dialogs.fileDialogs.back().title, "Save Overall SYX File - 28 bytes");

  // Settings of U09 and again of U05, in another order: refused, as is A a second time.
  Add(File("C_U09S.SYX", Cat({Piece(9, true), Piece(5, true, 0x44)})));
  Add(a);
  EXPECT_EQ(Listed(), (Strings{"B_U05S.SYX", "A_U05P.SYX"}));
  EXPECT_EQ(Boxes().tPieces.Text(), "U05\r\n");
  EXPECT_EQ(Outfile(), combined);
  ASSERT_EQ(dialogs.messages.size(), 2u);
  for (const ShownMessage& m : dialogs.messages) {
    EXPECT_EQ(m.text, filelist::kDuplicatePiece);
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.icon, ui::Icon::Exclamation);
  }

  ASSERT_FALSE(addEnabledWhileLoading.empty());
  EXPECT_EQ(std::count(addEnabledWhileLoading.begin(), addEnabledWhileLoading.end(), true), 0);
  EXPECT_TRUE(w->bAdd->isEnabled());
}

TEST_F(Window, YesToTheProgressWindowsCloseAbortsALongLoadAndPutsTheListBack) {
  Add(File("A_U01P.SYX", Piece(1, false)));
  const std::string pieces = Boxes().tPieces.Text();
  const Bytes before = Outfile();
  Bytes longFile;
  for (int u = 2; u <= 50; ++u) longFile = Cat({longFile, Piece(u, false), Piece(u, true)});
  int pumpsInLongFile = 0;
  duringPump = [&] {
    ui::fSplash* splash = program->ProgressWindow().Window();
    if (Boxes().tFiles.Text().find("LONG") == std::string::npos || splash == nullptr || !splash->isVisible()) return;
    if (++pumpsInLongFile == 300) {
      dialogs.answers.push_back(ui::Answer::Yes);
      splash->close();
    }
  };
  Add(File("LONG.SYX", longFile));

  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Do you want to abort?");
  EXPECT_EQ(Listed(), Strings{"A_U01P.SYX"});
  EXPECT_EQ(Boxes().tPieces.Text(), pieces);
  EXPECT_EQ(Outfile(), before);
  EXPECT_FALSE(program->Flags().AbortRequested);
  EXPECT_FALSE(program->ProgressWindow().Window()->isVisible());
  EXPECT_TRUE(w->bAdd->isEnabled());
}

TEST_F(Window, AListedFileThatIsGoneLoadsEmptyAndAFileInAMissingFolderIsRefused) {
  const std::string gone = File("A_U01P.SYX", Piece(1, false));
  const Bytes second = Piece(2, false);
  Add(gone);
  Add(File("B_U02P.SYX", second));
  fs::remove(gone);
  const std::string nowhere = At("missing/C_U03P.SYX");
  Add(nowhere);

  EXPECT_EQ(Shown(), Strings{"Error opening file " + nowhere});
  EXPECT_EQ(Listed(), (Strings{"A_U01P.SYX", "B_U02P.SYX"}));
  EXPECT_EQ(Boxes().tPieces.Text(), "U02 Missing Settings\r\n");
  EXPECT_EQ(Outfile(), second);
  ASSERT_TRUE(fs::exists(gone));
  EXPECT_EQ(fs::file_size(gone), 0u);
  EXPECT_FALSE(fs::exists(At("missing")));
}

// Counts the times a window is shown: the progress window shows once for every file a
// reload reads.
class ShowCounter final : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) ++shows;
    return false;
  }
  int shows = 0;
};

// A caret or selection in the Files box and a key, in the widget's characters: every
// listed path is L characters long, so line k (from 0) starts at k * (L + 1).
struct Removal {
  const char* name;
  int anchorLine, anchorColumn, line, column;
  Qt::Key key;
  const char* text;
  std::vector<int> kept;  // user slots of the files left, one file each
};
void PrintTo(const Removal& r, std::ostream* os) { *os << r.name; }

class FilesBoxKeys : public Window, public testing::WithParamInterface<Removal> {};

TEST_P(FilesBoxKeys, RemoveTheMarkedLinesAndReloadTheRestOnce) {
  for (int u = 1; u <= 4; ++u) Add(File("F_U0" + std::to_string(u) + "P.SYX", Piece(u, false)));
  const int lineLength = static_cast<int>(At("F_U01P.SYX").size());
  const auto at = [lineLength](int line, int column) {
    return line * (lineLength + 1) + (column < 0 ? lineLength : column);  // -1: the end of the line
  };
  const Removal& r = GetParam();
  ShowCounter loads;
  program->ProgressWindow().Window()->installEventFilter(&loads);
  FilesKey(at(r.anchorLine, r.anchorColumn), at(r.line, r.column), r.key, QString::fromLatin1(r.text));

  Strings listed;
  std::string pieces;
  Bytes logged;
  for (int u : r.kept) {
    listed.push_back("F_U0" + std::to_string(u) + "P.SYX");
    pieces += "U0" + std::to_string(u) + " Missing Settings\r\n";
    logged = Cat({logged, Piece(u, false)});
  }
  EXPECT_EQ(Listed(), listed);
  EXPECT_EQ(Boxes().tPieces.Text(), pieces);
  if (!r.kept.empty()) {
    EXPECT_EQ(Outfile(), logged);
  }
  // Each file left is read once; any other key reads nothing at all.
  const bool removalKey = r.key == Qt::Key_Backspace || r.key == Qt::Key_Delete;
  EXPECT_EQ(loads.shows, removalKey ? static_cast<int>(r.kept.size()) : 0);
  program->ProgressWindow().Window()->removeEventFilter(&loads);
  EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesBoxKeys,
    testing::Values(
        Removal{"BackspaceAtTheEndOfTheSecondLine", 1, -1, 1, -1, Qt::Key_Backspace, "\b", {1, 3, 4}},
        Removal{"DeleteAfterTheFirstCharacterOfTheThirdLine", 2, 1, 2, 1, Qt::Key_Delete, "\x7f", {1, 2, 4}},
        Removal{"BackspaceAtTheStartOfALine", 2, 0, 2, 0, Qt::Key_Backspace, "\b", {1, 2, 3, 4}},
        Removal{"DeleteAtTheStartOfTheText", 0, 0, 0, 0, Qt::Key_Delete, "\x7f", {1, 2, 3, 4}},
        Removal{"SelectionFromTheSecondLineIntoTheFourth", 1, 3, 3, 2, Qt::Key_Backspace, "\b", {1}},
        Removal{"SelectionOfEverything", 0, 0, 4, 0, Qt::Key_Delete, "\x7f", {}},
        Removal{"AnotherKeyInTheSecondLine", 1, 3, 1, 3, Qt::Key_A, "a", {1, 2, 3, 4}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
