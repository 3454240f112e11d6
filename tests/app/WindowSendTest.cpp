// Send through the real window program, offscreen: the listed files reach the fake
// output port as the engine cuts them, paced by Timer3 on the rig's fake clock, while
// the Traffic, Pieces and report boxes show what goes out; the abort question of the
// progress window; and the guards that keep the other handlers from running into a Send
// or a capture. How blocks are cut is the engine's own tests' business; these are about
// the wiring.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/WindowRig.h"
#include "transmit/TransmitEngine.h"
#include "ui/CaptureControl.h"
#include "ui/fSplash.h"

namespace {

using namespace apptest;

// A data-set message of n data bytes, 12 bytes more in all (F0 41 10 00 03 12, the
// address, the checksum, F7).
Bytes Message(std::uint8_t a0, std::uint8_t a1, std::uint8_t a3, std::size_t n) {
  const std::uint8_t address[4] = {a0, a1, 0, a3};
  return dumpgen::DataSetMessage(0x10, address, Bytes(n, 0x05));
}

// Two characters and a blank per byte, bytes first..last.
std::string Hex(const Bytes& bytes, std::size_t first, std::size_t last) {
  std::string s;
  char text[4];
  for (std::size_t i = first; i <= last; ++i) {
    std::snprintf(text, sizeof text, "%02X ", bytes[i]);
    s += text;
  }
  return s;
}

struct HandOverSeen {
  bool paced;
  std::uint32_t ms;  // the fake clock
  std::string pieces, report, traffic;
  bool timer3Running;
};

class Sending : public Window {
 protected:
  void SetUp() override {
    Window::SetUp();
    program->Transmit().SetHandOverObserver([this](const transmit::HandOver& h) {
      if (onHandOver) onHandOver();
      seen.push_back({h.paced, clock.now, Boxes().tPieces.Text(), Boxes().tDev.Text(), Boxes().tTraffic.Text(),
                      w->Timer3.isActive()});
    });
  }
  // Three files, listed as Add sorts them: settings first, then the patterns. At the
  // default size of 139 the settings (162 bytes) and the two pattern messages of U01
  // (112 + 112: the first 112 is not past 139) are paced blocks; U02 (32 bytes) ends
  // its file at or below 139 and goes at once.
  void ListThree() {
    settingsU01 = Message(0x14, 0x00, 0x00, 150);
    patternU01 = Cat({Message(0x40, 0x00, 0x00, 100), Message(0x40, 0x00, 0x64, 100)});
    patternU02 = Message(0x41, 0x00, 0x00, 20);
    Add(File("A_U01P.SYX", patternU01));
    Add(File("B_U02P.SYX", patternU02));
    Add(File("A_U01S.SYX", settingsU01));
    ASSERT_EQ(Listed(), (Strings{"A_U01S.SYX", "A_U01P.SYX", "B_U02P.SYX"}));
  }
  std::vector<Bytes> Sent() const {
    std::vector<Bytes> blocks;
    for (const auto& m : ports.OutputMessages()) blocks.push_back(m.bytes);
    return blocks;
  }

  Bytes settingsU01, patternU01, patternU02;
  std::vector<HandOverSeen> seen;
  std::function<void()> onHandOver;
};

TEST_F(Sending, TheListGoesOutPacedWhileTheBoxesShowItAndIsReadAgainAtTheEnd) {
  ListThree();
  EXPECT_FALSE(w->Timer3.isActive()) << "an idle program's Timer3 does not run";
  fs::remove(dir_ / "prog" / "OUTFILE.SYX");
  onHandOver = [&] { w->Timer1Tick(); };  // must leave the report lines of a Send alone
  Press(w->bSend);

  ASSERT_EQ(Shown(), Strings{transmit::kSendPrompt});
  EXPECT_EQ(dialogs.messages.back().buttons, ui::Buttons::Ok);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{settingsU01, patternU01, patternU02}));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[0].paced && seen[1].paced && !seen[2].paced);
  EXPECT_TRUE(seen[0].timer3Running && seen[1].timer3Running);
  // The pause counts from just before a hand-over; each pump is a millisecond here.
  EXPECT_GE(seen[1].ms - seen[0].ms, 200u);
  EXPECT_GE(seen[2].ms - seen[1].ms, 200u);

  // 162 bytes into an empty Traffic box: full (58 bytes) at byte 57; bytes 58, 87, 116
  // and 145 each leave the last 29 bytes and add their own; 145 leaves 116..145, and
  // 146..161 follow: bytes 116..161.
  EXPECT_EQ(seen[0].traffic, Hex(settingsU01, 116, 161));
  EXPECT_EQ(seen[0].pieces, "U01 Settings Only\r\n");
  EXPECT_EQ(seen[2].pieces, "U01\r\nU02 Missing Settings\r\n");
  // A report line counts the data bytes and the checksum.
  EXPECT_EQ(seen[2].report,
            "14000000 151 BYTES.\r\n40000000 101 BYTES.\r\n40000064 101 BYTES.\r\n41000000 21 BYTES.\r\n");

  // The reload at the end logged the list again; nothing of the Send itself was logged.
  EXPECT_EQ(Outfile(), Cat({settingsU01, patternU01, patternU02}));
  EXPECT_EQ(Boxes().tPieces.Text(), "U01\r\nU02 Missing Settings\r\n");
  EXPECT_FALSE(program->Flags().RecordingActive);
  EXPECT_FALSE(program->Parse().Log().Suppressed);
  EXPECT_FALSE(program->ProgressWindow().Window()->isVisible());
  EXPECT_FALSE(w->Timer3.isActive()) << "stopped once the countdown went idle";
  w->Timer1Tick();
  const std::string first = Boxes().tDev.Text();
  w->Timer1Tick();
  EXPECT_NE(first, Boxes().tDev.Text()) << "the prompt blinks again";
}

class AbortQuestion : public Sending, public testing::WithParamInterface<ui::Answer> {};

TEST_P(AbortQuestion, YesEndsTheSendAfterTheBlockInHandAndNoLetsItGoOn) {
  // Three files of one paced block each; the user closes the progress window while the
  // second block is handed over.
  Add(File("A_U01P.SYX", Message(0x40, 0x00, 0x00, 150)));
  Add(File("A_U02P.SYX", Message(0x41, 0x00, 0x00, 150)));
  Add(File("A_U03P.SYX", Message(0x42, 0x00, 0x00, 150)));
  const std::string pieces = Boxes().tPieces.Text();
  bool closed = false;
  bool wasShown = false;
  int sendingShows = 0;
  duringPump = [&] {
    ui::fSplash* splash = program->ProgressWindow().Window();
    const bool shown = splash != nullptr && splash->isVisible() && splash->lSplash->text() == QStringLiteral("Sending...");
    if (shown && !wasShown) ++sendingShows;
    wasShown = shown;
    if (closed || !shown || sendingShows != 2) return;
    closed = true;
    dialogs.answers.push_back(GetParam());
    splash->close();
  };
  Press(w->bSend);

  ASSERT_TRUE(closed);
  ASSERT_EQ(Shown(), (Strings{transmit::kSendPrompt, "Do you want to abort?"}));
  EXPECT_EQ(dialogs.messages.back().title, "Question");
  EXPECT_EQ(dialogs.messages.back().buttons, ui::Buttons::YesNoCancel);
  const bool yes = GetParam() == ui::Answer::Yes;
  ASSERT_EQ(Sent().size(), yes ? 2u : 3u);
  if (yes) {
    // The second block's pause still ran before the Send ended.
    EXPECT_GE(clock.now - seen[1].ms, 200u);
  }
  EXPECT_FALSE(program->ProgressWindow().Window()->Closed()) << "a closed window is made anew for the reload";
  EXPECT_EQ(Boxes().tPieces.Text(), pieces) << "the whole list read again";
  EXPECT_EQ(Listed(), (Strings{"A_U01P.SYX", "A_U02P.SYX", "A_U03P.SYX"}));
  EXPECT_FALSE(program->Flags().AbortRequested);
}

INSTANTIATE_TEST_SUITE_P(Window, AbortQuestion, testing::Values(ui::Answer::Yes, ui::Answer::No),
                         [](const auto& p) { return std::string(p.param == ui::Answer::Yes ? "Yes" : "No"); });

// --- Guards ---

struct Interruption {
  const char* name;
  std::function<void(ui::fMIDI&)> act;  // run while the first block is handed over
};
void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }

class DuringASend : public Sending, public testing::WithParamInterface<Interruption> {
 protected:
  // A second device, so that the lists have another entry to choose.
  DuringASend() { ports.AddSlot("Other In", "Other Out"); }
};

TEST_P(DuringASend, AnotherHandlerIsRefusedAndTheSendGoesOnUntouched) {
  ListThree();
  const std::string list = Boxes().tFiles.Text();
  const std::size_t fileDialogs = dialogs.fileDialogs.size();
  dialogs.paths.push_back(At("A_U01S.SYX"));  // for an Add that would run
  dialogs.answers.push_back(ui::Answer::Yes);
  onHandOver = [&] {
    if (seen.size() == 1) GetParam().act(*w);
  };
  Press(w->bSend);

  EXPECT_EQ(Shown(), (Strings{transmit::kSendPrompt, transmit::kStillSending}));
  EXPECT_EQ(dialogs.fileDialogs.size(), fileDialogs);
  EXPECT_EQ(Sent(), (std::vector<Bytes>{settingsU01, patternU01, patternU02}));
  for (const auto& m : ports.OutputMessages()) EXPECT_EQ(m.slot, 0);
  EXPECT_EQ(Boxes().tFiles.Text(), list);
  EXPECT_EQ(Outfile(), Cat({settingsU01, patternU01, patternU02}));
  EXPECT_FALSE(program->Flags().RecordingActive);
  EXPECT_EQ(program->Devices().SelectedInput, 0);
  EXPECT_EQ(program->Devices().SelectedOutput, 0);
  EXPECT_EQ(w->cInp->currentIndex(), 0);
  EXPECT_EQ(w->cOut->currentIndex(), 0);
  EXPECT_EQ(ports.QueuedBuffers(0), 4u) << "the input buffers stay with the selected input";
  EXPECT_TRUE(w->bAdd->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Window, DuringASend,
    testing::Values(
        Interruption{"Send", [](ui::fMIDI& w) { w.bSend->click(); }},
        Interruption{"Start", [](ui::fMIDI& w) { w.bStart->click(); }},
        Interruption{"Stop", [](ui::fMIDI& w) { w.bStop->click(); }},
        Interruption{"Save", [](ui::fMIDI& w) { w.bSave->click(); }},
        Interruption{"Add", [](ui::fMIDI& w) { w.bAdd->click(); }},
        Interruption{"BackspaceInTheFilesBox",
                     [](ui::fMIDI& w) {
                       QTextCursor c = w.tFiles->textCursor();
                       c.setPosition(3);
                       w.tFiles->setTextCursor(c);
                       QKeyEvent key(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
                       QCoreApplication::sendEvent(w.tFiles, &key);
                     }},
        Interruption{"AnotherInput",
                     [](ui::fMIDI& w) {
                       w.cInp->setCurrentIndex(1);
                       emit w.cInp->activated(1);
                     }},
        Interruption{"AnotherOutput",
                     [](ui::fMIDI& w) {
                       w.cOut->setCurrentIndex(1);
                       emit w.cOut->activated(1);
                     }}),
    [](const auto& p) { return std::string(p.param.name); });

// Add and removals from the Files box re-read the list, which would reset the store
// and the log under the capture and end it without a word.
TEST_F(Window, AddAndRemovalsAreRefusedFromStartUntilStopHasSavedTheCapture) {
  dumpgen::DumpOptions options;
  options.slotCount = 3;
  const Bytes dump = dumpgen::GenerateDump(options);
  const std::size_t half = dump.size() / 2;
  const std::string later = File("LATER_U09P.SYX", Piece(9, false));

  Press(w->bStart);
  Receive(Bytes(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(half)));
  dialogs.paths.push_back(later);
  Press(w->bAdd);
  FilesKey(0, 0, Qt::Key_Backspace, QStringLiteral("\b"));
  Receive(Bytes(dump.begin() + static_cast<std::ptrdiff_t>(half), dump.end()));
  dialogs.paths.clear();
  Press(w->bStop);  // the overall dialog cancelled: the capture stays armed
  FilesKey(0, 0, Qt::Key_Delete, QStringLiteral("\x7f"));
  EXPECT_EQ(Shown(), (Strings{ui::kNotWhileCapturing, ui::kNotWhileCapturing, "Cancel was selected.",
                              ui::kNotWhileCapturing}));
  EXPECT_TRUE(dialogs.fileDialogs.size() == 1 && dialogs.fileDialogs[0].save) << "no Add dialog opened";

  dialogs.paths = {At("DUMP.SYX")};  // the piece dialogs cancelled
  Press(w->bStop);
  EXPECT_EQ(ReadFile(At("DUMP.SYX")), WithoutActiveSensing(dump)) << "the whole capture";
  EXPECT_EQ(Boxes().tDev.Text(), kPrompt);

  dialogs.paths = {later};
  Press(w->bAdd);
  EXPECT_EQ(Listed(), Strings{"LATER_U09P.SYX"}) << "once Stop has saved, the list may change again";
}

}  // namespace
