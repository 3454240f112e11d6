// The window program offscreen on the fake MIDI layer: what the window adds to the core.
// Queued clicks and keys run nested in the receive loop's event pump, as a user's would;
// each pump ticks the title window and, while Timer3 runs, a millisecond of a fake clock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCloseEvent>
#include <QWindow>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include "DumpGenerator.h"
#include "app/CloseOnSignals.h"
#include "app/Program.h"
#include "app/QtEventPump.h"
#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"
#include "smf/StandardMidiFile.h"
#include "support/SplitByAddress.h"
#include "support/UserInput.h"
#include "transmit/TransmitEngine.h"
#include "session/CaptureControl.h"
#include "ui/TextBoxView.h"
#include "ui/ProgressDialog.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr const char* kPrompt = "PRESS START\r\nBEFORE DOING\r\nBULK DUMP!";

Bytes ReadFile(const fs::path& p) {
  const std::string s = Slurp(p);
  return Bytes(s.begin(), s.end());
}

// A data-set message of n data bytes, 12 bytes more in all (F0 41 10 00 03 12, the
// address, the checksum, F7).
Bytes Message(int a0, int a3, std::size_t n) {
  const std::uint8_t address[4] = {static_cast<std::uint8_t>(a0), 0, 0, static_cast<std::uint8_t>(a3)};
  return dumpgen::DataSetMessage(0x10, address, Bytes(n, 0x05));
}

// A key going down in the Files box, the caret or selection running from anchor to
// position in the widget's own characters (one per line break).
void KeyInFiles(ui::MainWindow& w, int anchor, int position, Qt::Key key, const char* text) {
  QTextCursor c = w.filesBox->textCursor();
  c.setPosition(anchor);
  c.setPosition(position, QTextCursor::KeepAnchor);
  w.filesBox->setTextCursor(c);
  PressKey(*w.filesBox, key, QString::fromLatin1(text));
}

void ChooseTheSecond(QComboBox& list) {
  list.setCurrentIndex(1);
  emit list.activated(1);
}

class FakeClock final : public roles::Clock {
 public:
  std::uint32_t NowMs() override { return now; }
  std::uint32_t now = 90000;
};

// What the boxes, Timer3 and the progress window showed as each block of a Send was
// handed over.
struct HandOverSeen {
  std::uint32_t ms;  // the fake clock
  bool paced, progressShown;
  std::string pieces, report;
};

class Window : public testing::Test {
 protected:
  Window() {
    fs::create_directories(dir_ / "prog");
    program = std::make_unique<app::Program>(
        app::ProgramEnvironment{ports, dialogs, pump, dir_ / "prog", &clock});
    pump.onPump = [this] { OnPump(); };
    program->Transmit().SetHandOverObserver([this](const transmit::HandOver& h) {
      if (onHandOver) onHandOver();
      const ui::ProgressDialog* splash = program->ProgressWindow().Window();
      seen.push_back({clock.now, h.paced, splash != nullptr && splash->isVisible(),
                      Boxes().piecesBox.Text(), Boxes().reportBox.Text()});
    });
  }
  ~Window() override {
    program.reset();
    fs::remove_all(dir_);
  }
  // Two devices, so that the lists have another entry to choose.
  void SetUp() override {
    ports.AddSlot("MC-303 In", "MC-303 Out");
    ports.AddSlot("Other In", "Other Out");
    ASSERT_TRUE(program->StartUp());
    w = &program->Window();
  }

  // Runs the action inside the receive loop's event processing, then passes until
  // everything sent has been received and handled.
  void Do(std::function<void()> action) {
    actions_.push_back(std::move(action));
    Settle();
  }
  void Press(QPushButton* button) {
    Do([button] { button->click(); });
  }
  void Add(const std::string& path) {
    dialogs.paths.push_back(path);
    Press(w->addButton);
  }
  void Settle() {
    while (program->Loop().RunPass() != session::ReceiveLoop::Pass::Idle || !actions_.empty()) {
    }
  }

  std::string At(const std::string& name) const { return (dir_ / name).string(); }
  std::string File(const std::string& name, const Bytes& bytes) const {
    WriteBytes(dir_ / name, bytes);
    return At(name);
  }
  Bytes Outfile() const { return ReadFile(dir_ / "prog" / "OUTFILE.SYX"); }
  ui::MainBoxes& Boxes() { return program->Boxes(); }
  // The messages shown, less the Start instruction.
  Strings Shown() const {
    Strings t;
    for (const ShownMessage& m : dialogs.messages) {
      if (m.title != "Press OK Button") t.push_back(m.text);
    }
    return t;
  }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountingPump pump;
  FakeClock clock;
  std::unique_ptr<app::Program> program;  // after what it uses, so it goes first
  ui::MainWindow* w = nullptr;
  std::function<void()> duringPump;  // runs in every event pump, after any action
  std::function<void()> onHandOver;  // runs as a Send hands a block over
  std::vector<HandOverSeen> seen;
  int titleTicks = 0;
  bool mainShownWithTitle = false;

 private:
  void OnPump() {
    if (ui::TitleWindow* title = program->ShownTitleWindow(); title != nullptr && title->Showing()) {
      mainShownWithTitle = mainShownWithTitle || program->Window().isVisible();
      ++titleTicks;
      title->Timer1Tick();
    }
    if (w != nullptr && w->Timer3.isActive()) {
      ++clock.now;
      w->Timer3Tick();
    }
    if (!actions_.empty()) {
      const std::function<void()> action = std::move(actions_.front());
      actions_.pop_front();
      action();
    }
    if (duringPump) duringPump();
  }

  std::deque<std::function<void()>> actions_;
};

class StartUp : public Window, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {}
};

TEST_F(StartUp, WithoutAnyPortShowsTheNoticeAndNeverTheMainWindow) {
  EXPECT_EQ(program->Main(), 0);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "No MIDI devices currently connected.");
  EXPECT_EQ(dialogs.messages[0].title, "Notice");
  EXPECT_FALSE(program->Window().isVisible());
}

TEST_P(StartUp, TheMainWindowShowsOnceTheTitleHasCountedDownOrAKeyWasPressed) {
  const bool key = GetParam();
  duringPump = [&] {
    if (!key || titleTicks != 3 || !program->ShownTitleWindow()->Showing()) return;
    PressKey(*program->ShownTitleWindow(), Qt::Key_Return, QStringLiteral("\r"));
  };
  ports.AddSlot("", "Out A");  // the input list ends at slot 0, which has no input
  ports.AddSlot("In B", "");
  ASSERT_TRUE(program->StartUp());
  EXPECT_EQ(titleTicks, key ? 3 : 10);
  EXPECT_FALSE(mainShownWithTitle);
  ui::MainWindow& window = program->Window();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(Boxes().reportBox.Text(), kPrompt);
  EXPECT_EQ(window.inputList->count(), 0);
  EXPECT_EQ(window.outputList->count(), 1);
  EXPECT_EQ(window.outputList->itemText(0), QStringLiteral("Out A"));
  EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Title, StartUp, testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "KeyAtTheThirdTick" : "NoKey"); });

TEST_F(Window, TheTrafficBoxShowsWhatArrivesAByteAPassAndOnlySysexReachesTheParser) {
  ports.Receive(0, {0xFE, 0xF8, 0x90, 0x3C, 0x7F});
  Settle();
  EXPECT_EQ(Boxes().trafficBox.Text(), "FE 90 ") << "no clock; of a short message its status byte alone";
  EXPECT_EQ(program->Parse().BytesFed(), 0u) << "short messages never reach the parser";
  // A SysEx message in parts, as a MIDI system hands one over, active sensing between.
  ports.Receive(0, {0xF0, 0x01});
  ports.Receive(0, {0xFE, 0x02, 0xF7});
  EXPECT_EQ(program->Loop().RunPass(), session::ReceiveLoop::Pass::Worked);
  EXPECT_EQ(Boxes().trafficBox.Text(), "FE 90 F0 FE ");
  EXPECT_EQ(program->Loop().ReceivedQueue().size(), 3u) << "one byte a pass";
  Settle();
  w->trafficBox->CatchUp();
  EXPECT_EQ(w->trafficBox->toPlainText().toStdString(), "FE 90 F0 FE 01 02 F7 ");
  EXPECT_EQ(program->Parse().BytesFed(), 4u);
}

class EndingTheProgram : public Window, public testing::WithParamInterface<int> {};

// Quit (0), the close box (1) and SIGTERM (2) end the program without saving anything.
// During a capture the first two ask first (No goes on); a signal tells on stderr.
TEST_P(EndingTheProgram, EndsTheLoopAndClosesEveryPortAndDuringACaptureAsksOrTells) {
  const bool signal = GetParam() == 2;
  Press(w->startButton);
  ports.Receive(0, Message(0x40, 0, 3));  // 15 bytes
  Settle();
  app::CloseOnSignals onSignals([this] { program->EndOnSignal(); });
  dialogs.answers = {roles::Answer::No, roles::Answer::Yes};
  pump.calls = 0;
  bool onDiskWhileIdle = false;
  duringPump = [&] {
    if (pump.calls == 5) onDiskWhileIdle = Outfile() == Message(0x40, 0, 3);
    if (pump.calls != 5 && pump.calls != 10) return;
    if (GetParam() == 0) w->quitButton->click();
    if (GetParam() == 1) w->close();
    if (signal) std::raise(SIGTERM);
    for (int i = 0; signal && i < 100 && !program->Flags().QuitRequested; ++i) QCoreApplication::processEvents();
  };
  testing::internal::CaptureStderr();
  program->RunReceiveLoop();
  const std::string told = testing::internal::GetCapturedStderr(), log = (dir_ / "prog" / "OUTFILE.SYX").string();
  program->ShutDown();
  EXPECT_EQ(Shown(), Strings(signal ? 0 : 2, "WARNING: The capture has not been saved.  If you quit now, it will be "
                                             "lost, but " + log + " keeps what was received until the next Start.  "
                                             "Are you sure you want to quit?"));
  EXPECT_EQ(told, signal ? "vezorizer: ended during a capture that was not saved: the 15 bytes received are in " +
                               log + " until the next Start\n" : "");
  EXPECT_TRUE(onDiskWhileIdle) << "the log is put on disk while nothing arrives";
  EXPECT_EQ(Outfile(), Message(0x40, 0, 3));
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_FALSE(ports.InputOpen(0) || ports.InputOpen(1));
  EXPECT_FALSE(w->isVisible());
}

INSTANTIATE_TEST_SUITE_P(QuitCloseOrSignal, EndingTheProgram, testing::Values(0, 1, 2), [](const auto& p) {
  return std::string(p.param == 0 ? "QuitButton" : p.param == 1 ? "CloseBox" : "Signal");
});

// The rescan button, B chosen for input and output beforehand: the choice follows its
// name to its new slot, falls back to entry 0 once B has gone, as at start-up; with
// nothing left the notice says so and the program goes on. Refused during a capture;
// clicks during its own event pumping act on nothing.
struct RescanCase {
  const char* name;
  bool capturing;
  std::vector<std::pair<std::string, std::string>> devices;  // input and output per slot at the rescan
  Strings inputs, shown;  // inputList's entries after it; the messages
  int chosen;             // the entry then chosen in both lists
};
void PrintTo(const RescanCase& c, std::ostream* os) { *os << c.name; }

class Rescan : public Window, public testing::WithParamInterface<RescanCase> {};

TEST_P(Rescan, KeepsTheChoiceByNameFallsBackToEntryZeroAndIsRefusedDuringACapture) {
  const RescanCase& c = GetParam();
  Do([this] { ChooseTheSecond(*w->inputList), ChooseTheSecond(*w->outputList); });
  if (c.capturing) Press(w->startButton);
  ports.script = c.devices;
  duringPump = [this] {
    for (QWidget* b : {static_cast<QWidget*>(w->startButton), static_cast<QWidget*>(w->rescanButton)}) {
      if (program->Devices().State().DeviceSlotCount == midi::kMaxSlots) ClickOn(*b);  // while it probes
    }
  };
  Do([this] { ClickOn(*w->rescanButton); });
  Strings inputs;
  for (int i = 0; i < w->inputList->count(); ++i) inputs.push_back(w->inputList->itemText(i).toStdString());
  EXPECT_EQ(inputs, c.inputs);
  EXPECT_EQ(Shown(), c.shown);
  EXPECT_EQ(ports.listReadings, c.capturing ? 0 : 1);
  EXPECT_EQ(program->Capture().Capturing(), c.capturing) << "no Start during the rescan";
  EXPECT_EQ(std::pair(w->inputList->currentIndex(), w->outputList->currentIndex()), std::pair(c.chosen, c.chosen));
  EXPECT_EQ(program->Devices().State().SelectedOutput, c.chosen);
  EXPECT_TRUE(w->rescanButton->isEnabled() && w->inputList->isEnabled() && w->sendButton->isEnabled());
  ports.Receive(std::max(c.chosen, 0), {0xFE});
  Settle();
  EXPECT_EQ(Boxes().trafficBox.Text(), c.chosen < 0 ? "" : "FE ") << "the chosen input listens";
}

const std::pair<std::string, std::string> kNew{"New In", "New Out"}, kA{"MC-303 In", "MC-303 Out"},
    kB{"Other In", "Other Out"};
INSTANTIATE_TEST_SUITE_P(
    Window, Rescan,
    testing::Values(RescanCase{"ANewDeviceInFront", false, {kNew, kA, kB}, {"New In", "MC-303 In", "Other In"}, {}, 2},
                    RescanCase{"TheChosenDeviceGone", false, {kA}, {"MC-303 In"}, {}, 0},
                    RescanCase{"NoDeviceLeft", false, {}, {}, {"No MIDI devices currently connected."}, -1},
                    RescanCase{"DuringACapture", true, {kNew}, {"MC-303 In", "Other In"}, {app::kNoRescanWhileCapturing}, 1}),
    [](const auto& p) { return std::string(p.param.name); });

// With long port names as JACK and a2j give them, of which the lists show 31 characters:
// at the first size each list's text field holds its longest name, also once a rescan
// finds the lists' font grown; the 58 bytes the Traffic box holds at most are all in
// sight; growing, the window gives the room to the boxes and the lists.
TEST_F(Window, ShowsWholeDeviceNamesAndAllOfTrafficAndGivesRoomToTheBoxes) {
  ports.script = {{"a2j:Roland MC-303 [20] (capture): MC-303 MIDI 1", "a2j:Roland MC-303 [20] (playback): MC-303 MIDI 1"},
                  {"mc303-sim:MC-303 MIDI out", "mc303-sim:MC-303 MIDI in"}};
  Do([this] { w->rescanButton->click(); });
  const auto namesFit = [this] {
    for (const QComboBox* list : {w->inputList, w->outputList}) {
      QStyleOptionComboBox option;
      option.initFrom(list);
      int longest = 0;
      for (int i = 0; i < list->count(); ++i) longest = std::max(longest, list->fontMetrics().horizontalAdvance(list->itemText(i)));
      EXPECT_GE(list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list).width(),
                longest) << list->objectName().toStdString();
      EXPECT_LE(list->geometry().right(), w->rescanButton->geometry().left());
    }
  };
  namesFit();
  EXPECT_EQ(w->inputList->itemText(0).toStdString(), "a2j:Roland MC-303 [20] (capture");
  std::string bytes;
  for (int i = 0; i < 58; ++i) bytes += "F7 ";
  Boxes().trafficBox.SetText(bytes);
  w->trafficBox->CatchUp();
  QTextCursor start(w->trafficBox->document()), end(w->trafficBox->document());
  end.movePosition(QTextCursor::End);
  EXPECT_GE(w->trafficBox->cursorRect(start).top(), 0);
  EXPECT_LE(w->trafficBox->cursorRect(end).bottom(), w->trafficBox->viewport()->height());

  for (QComboBox* list : {w->inputList, w->outputList}) list->setFont(QFont(list->font().family(), 12));
  Do([this] { ClickOn(*w->rescanButton); });
  namesFit();
  const QSize first = w->size();
  const QRect files = w->filesBox->geometry(), traffic = w->trafficBox->geometry(), input = w->inputList->geometry();
  const QRect rescan = w->rescanButton->geometry();
  w->resize(first + QSize(400, 300));
  EXPECT_EQ(w->filesBox->height(), files.height() + 300);
  EXPECT_GT(w->filesBox->width(), files.width() + 150);
  EXPECT_EQ(w->trafficBox->geometry().right(), traffic.right() + 400) << "the last box keeps its margin";
  EXPECT_LT(w->filesBox->geometry().right(), w->piecesBox->geometry().left());
  EXPECT_EQ(w->inputList->width(), input.width() + 400);
  EXPECT_EQ(w->rescanButton->geometry(), rescan.translated(400, 0));
}

// Tab walks every control in reading order (the button grid column by column, the lists
// and their button, the boxes) and back to the first, the focus drawn on each; Return,
// Enter and Space press the focused button.
TEST_F(Window, TabReachesEveryControlAndKeysPressTheFocusedButton) {
  const Strings order{"startButton", "stopButton", "addButton", "saveButton", "sendButton", "speedButton", "helpButton", "quitButton",
                      "inputList", "outputList", "rescanButton", "filesBox", "piecesBox", "reportBox", "trafficBox", "startButton"};
  w->activateWindow();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::activeWindow(), w);
  Strings reached{QApplication::focusWidget()->objectName().toStdString()}, undrawn;
  fs::create_directories(VZ_SCREENSHOT_DIR);
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget* focused = QApplication::focusWidget();
    const QImage withFocus = focused->grab().toImage();
    if (i == 5) {
      EXPECT_TRUE(w->grab().save(QString::fromUtf8(VZ_SCREENSHOT_DIR) + "/MainWindow-first-size-focus-on-send.png"));
    }
    PressKey(*focused, Qt::Key_Tab, QStringLiteral("\t"));
    if (focused->grab().toImage() == withFocus) undrawn.push_back(reached.back());
    reached.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(reached, order) << "from the first size's focus";
  EXPECT_EQ(undrawn, Strings{}) << "the focus is drawn on each";
  int clicks = 0;
  for (QPushButton* b : w->findChildren<QPushButton*>()) {
    QObject::disconnect(b, &QPushButton::clicked, nullptr, nullptr);
    QObject::connect(b, &QPushButton::clicked, [&clicks] { ++clicks; });
    b->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
      PressKey(*b, key, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"));
      QCoreApplication::sendEvent(b, &release);
    }
  }
  EXPECT_EQ(clicks, 9 * 3) << "each of the nine buttons pressed by each key";
}

// Among 98 listed files an added one sorts into the middle: the caret goes to the end
// of the list as ever, and the new line is scrolled into sight all the same.
TEST_F(Window, AnAddedFileIsScrolledIntoSightWhereItSorted) {
  std::string list;
  for (int u = 1; u <= 49; ++u) {
    const std::string nn{static_cast<char>('0' + u / 10), static_cast<char>('0' + u % 10)};
    list += File("A_U" + nn + "P.SYX", {}) + "\r\n" + File("B_U" + nn + "P.SYX", {}) + "\r\n";
  }
  Boxes().filesBox.SetText(list);
  Add(File("C_U25P.SYX", {}));
  const std::string& text = Boxes().filesBox.Text();
  const auto line = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.find("C_U25P")), '\n');
  ASSERT_EQ(line, 50);
  const QTextCursor added(w->filesBox->document()->findBlockByNumber(static_cast<int>(line)));
  EXPECT_TRUE(w->filesBox->viewport()->rect().contains(w->filesBox->cursorRect(added)));
}

TEST(IdleWait, MidiInputWakesTheWaitForWindowEvents) {
  FakeMidiPorts ports;
  ports.AddSlot("In", "Out");
  midi::PortHandle in = 0;
  ports.InOpen(&in, 0);
  ports.InStart(in);
  app::QtEventPump pump;
  bool gaveUp = false;
  std::uint8_t byte = 0;
  {
    app::QtIdleWait idle(ports.InputArrived(), pump);
    // Only a safety net: without the wake-up the wait below would last for ever.
    QTimer::singleShot(std::chrono::seconds(20), [&gaveUp] { gaveUp = true; });
    std::thread sender([&ports] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ports.Receive(0, {0xFE});
    });
    while (ports.InRead(in, &byte, 1) == 0 && !gaveUp) idle.WaitForInput();
    sender.join();
  }
  EXPECT_FALSE(gaveUp);
  EXPECT_EQ(byte, 0xFE);
}

// Eight slots, more than one 16384-byte input buffer, with active sensing between
// messages as the device sends it.
Bytes EightSlots() {
  dumpgen::DumpOptions options;
  options.slotCount = 8;
  options.minPatternBytes = 1500;
  options.maxPatternBytes = 2500;
  options.activeSensingEveryBytes = 500;
  Bytes dump = dumpgen::GenerateDump(options);
  EXPECT_GT(dump.size(), 16384u);
  return dump;
}

// Add and removals from the Files box re-read the list and Send empties the store,
// which would reset the store and the log under the capture and end it without a
// word: they wait for Stop. The other input, chosen meanwhile, takes the buffers and
// the capture goes on from it.
TEST_F(Window, ACaptureGoesOnWholeFromTheInputChosenAndTheListWaitsForStop) {
  Boxes().filesBox.SetText(At("OLD.SYX") + "\r\n");
  Press(w->startButton);
  EXPECT_EQ(dialogs.messages.back().title, "Press OK Button");
  EXPECT_EQ(dialogs.messages.back().text,
            "After you have verified that FE's are appearing in the traffic window, press FUNC-SHIFT-16.  The MC303 "
            "will say \"Send\".  Do not press ENTER yet.  First hit the OK button in this window.");
  EXPECT_EQ(Boxes().filesBox.Text(), "");
  w->Timer1Tick();
  EXPECT_EQ(Boxes().reportBox.Text(), "") << "the prompt stops blinking during a capture";

  const Bytes dump = EightSlots();
  const auto half = dump.begin() + static_cast<std::ptrdiff_t>(dump.size() / 2);
  ports.Receive(0, Bytes(dump.begin(), half));
  Settle();
  Add(File("LATER_U09P.SYX", Message(0x48, 0, 2)));
  Do([this] { KeyInFiles(*w, 0, 0, Qt::Key_Backspace, "\b"); });
  Do([this] { ChooseTheSecond(*w->inputList); });
  Press(w->sendButton);  // refused: it would empty the store under the capture
  EXPECT_TRUE(ports.OutputMessages().empty());
  dialogs.paths.clear();
  Press(w->stopButton);  // the overall dialog cancelled: the capture goes on, the rest recorded
  ports.Receive(0, {0xF0, 0x7F, 0xF7});  // on the input left: never arrives
  ports.Receive(1, Bytes(half, dump.end()));
  Settle();
  EXPECT_EQ(Boxes().piecesBox.Text(), "U01\r\nU02\r\nU03\r\nU04\r\nU05\r\nU06\r\nU07\r\nU08\r\n");
  program->Parse().FlushOutfile();
  EXPECT_EQ(Outfile(), WithoutRealTime(dump)) << "whole, from both inputs";
  Do([this] { KeyInFiles(*w, 0, 0, Qt::Key_Delete, "\x7f"); });
  EXPECT_EQ(Shown(), (Strings{session::kNotWhileCapturing, session::kNotWhileCapturing, transmit::kNotWhileRecording,
                              "Cancel was selected.", session::kNotWhileCapturing}));
  EXPECT_EQ(dialogs.fileDialogs.size(), 1u) << "no Add dialog opened";
  EXPECT_TRUE(program->Flags().RecordingActive);
}

// Stop saves the capture whole and in pieces, which it lists; Add and Save then work on
// that list as ever.
TEST_F(Window, StopSavesTheCaptureWholeAndInListedPieces) {
  const Bytes dump = EightSlots();
  Press(w->startButton);
  ports.Receive(0, dump);
  Settle();
  const std::string later = File("LATER_U09P.SYX", Message(0x48, 0, 2));
  // The overall name without its extension, the first piece's with it; U02's dialog
  // cancelled, which skips that slot alone.
  // A link is written through, and a private file stays private.
  WriteBytes(dir_ / "DUMP", {0x55});
  fs::create_symlink("REAL.SYX", dir_ / "DUMP.SYX");
  WriteBytes(dir_ / "SET_U01P.SYX", {0x55});
  fs::permissions(dir_ / "SET_U01P.SYX", fs::perms::owner_read | fs::perms::owner_write);
  dialogs.paths = {At("DUMP"), At("SET.SYX"), std::nullopt};
  dialogs.paths.insert(dialogs.paths.end(), 6, At("SET"));
  Press(w->stopButton);
  const Bytes sent = WithoutRealTime(dump);
  EXPECT_TRUE(fs::is_symlink(dir_ / "DUMP.SYX") && ReadFile(At("REAL.SYX")) == sent);
  EXPECT_EQ(fs::status(dir_ / "SET_U01P.SYX").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(At("DUMP")), Bytes{0x55}) << "only the file written is replaced";
  EXPECT_EQ(dialogs.fileDialogs[0].title, "Save Overall SYX File - " + std::to_string(sent.size()) + " bytes");
  EXPECT_EQ(dialogs.fileDialogs[2].title + dialogs.fileDialogs[2].filter, "Save Piece U02SYX files|*.syx");
  EXPECT_EQ(Boxes().reportBox.Text(), kPrompt);
  const SlotPieces pieces = SplitByAddress(sent);
  std::string settingsLines, patternLines;
  Bytes settingsBytes, patternBytes;  // what the listed files hold
  for (int s = 0; s < 8; ++s) {
    const std::string stem = At("SET_U0" + std::to_string(s + 1));
    if (s == 1) {
      EXPECT_FALSE(fs::exists(stem + "P.SYX") || fs::exists(stem + "S.SYX"));
      continue;
    }
    EXPECT_EQ(ReadFile(stem + "P.SYX"), pieces.pattern.at(s)) << s;
    EXPECT_EQ(ReadFile(stem + "S.SYX"), pieces.settings.at(s)) << s;
    patternLines += stem + "P.SYX\r\n";
    settingsLines += stem + "S.SYX\r\n";
    patternBytes = Cat({patternBytes, pieces.pattern.at(s)});
    settingsBytes = Cat({settingsBytes, pieces.settings.at(s)});
  }
  EXPECT_EQ(Boxes().filesBox.Text(), settingsLines + patternLines) << "settings first, then patterns, by slot";
  EXPECT_EQ(Shown(), Strings{"Operation cancelled."});
  EXPECT_FALSE(program->Flags().RecordingActive);

  std::vector<bool> addEnabledWhileReading;
  duringPump = [&] {
    ui::ProgressDialog* splash = program->ProgressWindow().Window();
    if (splash != nullptr && splash->isVisible()) addEnabledWhileReading.push_back(w->addButton->isEnabled());
  };
  Add(later);
  EXPECT_EQ(Boxes().filesBox.Text(), settingsLines + patternLines + later + "\r\n") << "after Stop, Add lists again";
  ASSERT_FALSE(addEnabledWhileReading.empty());
  EXPECT_EQ(std::count(addEnabledWhileReading.begin(), addEnabledWhileReading.end(), true), 0);
  EXPECT_TRUE(w->addButton->isEnabled());
  dialogs.paths = {At("ALL")};
  Press(w->saveButton);
  EXPECT_EQ(ReadFile(At("ALL.SYX")), Cat({settingsBytes, patternBytes, ReadFile(later)})) << "the list combined";
}

// Counts the events of one type a window gets: the progress window shows once for every
// reload, and stays up from its first file to its last.
class EventCounter final : public QObject {
 public:
  explicit EventCounter(QEvent::Type type) : type_(type) {}
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == type_;
    return false;
  }
  int count = 0;

 private:
  QEvent::Type type_;
};

// A caret or selection in the Files box and a key, in the widget's characters: every
// listed path is L characters long, so line k (from 0) starts at k * (L + 1).
struct Removal {
  const char* name;
  int anchorLine, anchorColumn, line, column;  // column -1: the end of the line
  Qt::Key key;
  const char* text;
  std::vector<int> kept;  // the files left, by number
};
void PrintTo(const Removal& r, std::ostream* os) { *os << r.name; }

class FilesBoxKeys : public Window, public testing::WithParamInterface<Removal> {};

// Delete once read the list twice: X11 gives the key the character 127 as well.
TEST_P(FilesBoxKeys, RemoveTheMarkedLinesAndReadTheRestOnce) {
  for (int u = 1; u <= 4; ++u) Add(File("F_U0" + std::to_string(u) + "P.SYX", Message(0x3F + u, 0, 2)));
  const int length = static_cast<int>(At("F_U01P.SYX").size());
  const auto at = [length](int line, int column) { return line * (length + 1) + (column < 0 ? length : column); };
  const Removal& r = GetParam();
  EventCounter reads(QEvent::Show);
  program->ProgressWindow().Window()->installEventFilter(&reads);
  Do([&] { KeyInFiles(*w, at(r.anchorLine, r.anchorColumn), at(r.line, r.column), r.key, r.text); });
  program->ProgressWindow().Window()->removeEventFilter(&reads);

  std::string listed;
  for (int u : r.kept) listed += At("F_U0" + std::to_string(u) + "P.SYX") + "\r\n";
  EXPECT_EQ(Boxes().filesBox.Text(), listed);
  EXPECT_EQ(reads.count, 1);
  EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesBoxKeys,
    testing::Values(Removal{"BackspaceAtTheEndOfTheSecondLine", 1, -1, 1, -1, Qt::Key_Backspace, "\b", {1, 3, 4}},
                    Removal{"CtrlHTypedAtTheEndOfTheFourthLine", 3, -1, 3, -1, Qt::Key_H, "\b", {1, 2, 3}},
                    Removal{"DeleteCharacterTypedAfterTheFirstLine", 0, -1, 0, -1, Qt::Key_unknown, "\x7f", {2, 3, 4}},
                    Removal{"DeleteAfterTheFirstCharacterOfTheThirdLine", 2, 1, 2, 1, Qt::Key_Delete, "\x7f", {1, 2, 4}},
                    Removal{"BackspaceAtTheStartOfALine", 2, 0, 2, 0, Qt::Key_Backspace, "\b", {1, 2, 3, 4}},
                    Removal{"SelectionFromTheSecondLineIntoTheFourth", 1, 3, 3, 2, Qt::Key_Backspace, "\b", {1}}),
    [](const auto& p) { return std::string(p.param.name); });

// What the user does while the second block is handed over, with real clicks and keys.
struct Interruption {
  const char* name;
  std::function<void(ui::MainWindow&)> act;
};
void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }

class DuringASend : public Window, public testing::WithParamInterface<Interruption> {};

// Start, Stop, Save, Add, Send, Speed, the output list, the rescan button and the Files
// box would disturb the Send (arm, close or copy the log it suppresses, reset the store
// it parses into, move or close its port) and are disabled, rather than answer with a box that would hold the
// Send up; Help, Quit and the input list stay usable. The Send goes on as if nothing
// had been pressed, under the progress window from its first paced block to its end.
TEST_P(DuringASend, TheListGoesOutPacedByTimer3AndOnlyWhatCannotDisturbItCanBeUsed) {
  // Listed as Add sorts them: settings first, then the patterns. At the default size of
  // 139 the settings (162 bytes) and the two pattern messages of U01 (112 + 112: the
  // first 112 is not past 139) are paced blocks; U02 (32 bytes) ends the last file at
  // or below 139 and goes at once.
  const Bytes settingsU01 = Message(0x14, 0, 150), patternU02 = Message(0x41, 0, 20);
  const Bytes patternU01 = Cat({Message(0x40, 0, 100), Message(0x40, 0x64, 100)});
  // U02 comes as a MIDI file, whose SysEx is what is loaded and sent.
  smf::ByteString midi;
  ASSERT_FALSE(smf::WriteSysexAsSmf(patternU02, {}, midi).error);
  Add(File("A_U01P.SYX", patternU01));
  Add(File("B_U02P.mid", midi));
  Add(File("A_U01S.SYX", settingsU01));
  const std::string list = Boxes().filesBox.Text();
  fs::remove(dir_ / "prog" / "OUTFILE.SYX");
  dialogs.paths.push_back(At("A_U01S.SYX"));  // for an Add that would run
  const std::vector<QWidget*> disabled{w->startButton, w->stopButton, w->addButton, w->saveButton, w->sendButton, w->outputList, w->rescanButton};
  const std::vector<QWidget*> usable{w->helpButton, w->quitButton, w->inputList, w->speedButton, w->filesBox};
  std::vector<bool> enabledDuring;
  bool logged = false;
  duringPump = [&] { w->Timer1Tick(); };  // the prompt's blink must leave the report lines alone
  onHandOver = [&] {
    logged = logged || fs::exists(dir_ / "prog" / "OUTFILE.SYX");
    if (seen.size() != 1) return;
    for (QWidget* c : disabled) enabledDuring.push_back(c->isEnabled());
    for (QWidget* c : usable) enabledDuring.push_back(!c->isEnabled());
    if (GetParam().act) GetParam().act(*w);
  };
  Press(w->sendButton);

  EXPECT_EQ(Shown(), Strings{transmit::kSendPrompt}) << "nothing waits on a message box";
  EXPECT_EQ(enabledDuring, std::vector<bool>(disabled.size() + usable.size(), false));
  EXPECT_EQ(dialogs.fileDialogs.size(), 3u) << "none but the three Adds'";
  EXPECT_EQ(ports.listReadings, 0) << "no rescan";
  std::vector<Bytes> sent;
  for (const auto& m : ports.OutputMessages()) sent.push_back(m.slot == 0 ? m.bytes : Bytes{});
  EXPECT_EQ(sent, (std::vector<Bytes>{settingsU01, patternU01, patternU02})) << "all to the output in use";
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[0].paced && seen[1].paced && !seen[2].paced);
  EXPECT_TRUE(seen[0].progressShown && seen[1].progressShown && seen[2].progressShown);
  // The pause follows the block's time on the line, 162 bytes x 320 us = 52 ms and
  // 224 x 320 us = 72 ms; each pump is a millisecond here.
  EXPECT_GE(seen[1].ms - seen[0].ms, 252u);
  EXPECT_GE(seen[2].ms - seen[1].ms, 272u);
  EXPECT_EQ(seen[0].pieces, "U01 Settings Only\r\n");
  // A report line counts the data bytes and the checksum.
  EXPECT_EQ(seen[2].report,
            "14000000 151 BYTES.\r\n40000000 101 BYTES.\r\n40000064 101 BYTES.\r\n41000000 21 BYTES.\r\n");

  // Nothing of the Send itself was logged; the reload at the end logged the list again.
  EXPECT_FALSE(logged);
  const std::string& traffic = Boxes().trafficBox.Text();
  EXPECT_EQ(traffic.substr(traffic.size() - 6), "5B F7 ") << "the checksum and end sent last";
  EXPECT_EQ(Boxes().filesBox.Text(), list);
  EXPECT_EQ(Outfile(), Cat({settingsU01, patternU01, patternU02}));
  EXPECT_EQ(Boxes().reportBox.Text(), seen[2].report + "Send finished.\r\n418 bytes sent,\r\n3 files.\r\n")
      << "what was sent stays in the MC303 box";
  EXPECT_EQ(Boxes().piecesBox.Text(), "U01\r\nU02 Missing Settings\r\n");
  EXPECT_FALSE(program->Flags().RecordingActive);
  EXPECT_FALSE(program->Parse().Log().Suppressed);
  const int input = std::string(GetParam().name) == "AnotherInput" ? 1 : 0;
  EXPECT_EQ(w->inputList->currentIndex(), input);
  EXPECT_EQ(w->outputList->currentIndex(), 0);
  EXPECT_EQ(program->Devices().State().SelectedInput, input);
  EXPECT_EQ(w->ShownHelpWindow() != nullptr, std::string(GetParam().name) == "Help");
  EXPECT_EQ(w->ShownSpeedWindow() != nullptr, std::string(GetParam().name) == "Speed");
  for (QWidget* c : disabled) EXPECT_TRUE(c->isEnabled());
  EXPECT_FALSE(program->ProgressWindow().Window()->isVisible());
  EXPECT_FALSE(w->Timer3.isActive()) << "stopped once the countdown went idle";
}

// On a real event loop and the steady clock: the progress window is drawn during the
// Send, above the main window and clear of its controls. Its close box asks without
// holding the Send up; No changes nothing; Yes finishes the part being sent (all of
// U01's pattern, in the first file), and asked again, the Send stops at once and says
// that the part is left incomplete. Nothing of the second file goes.
TEST(SendOnTheEventLoop, TheProgressWindowIsDrawnAndItsCloseBoxAsksWithoutStoppingTheSend) {
  const fs::path dir = FreshDir("SendOnTheEventLoop");
  fs::create_directories(dir / "prog");
  FakeMidiPorts ports;
  ports.AddSlot("In", "Out");
  ScriptedDialogs dialogs;
  app::QtEventPump pump;
  app::Program program({ports, dialogs, pump, dir / "prog"});
  ASSERT_TRUE(program.StartUp());
  Bytes patternU01;
  for (int m = 0; m < 8; ++m) patternU01 = Cat({patternU01, Message(0x40, m, 138)});
  WriteBytes(dir / "U01P.SYX", patternU01);
  WriteBytes(dir / "U02P.SYX", Message(0x41, 0, 138));
  program.Boxes().filesBox.SetText((dir / "U01P.SYX").string() + "\r\n" + (dir / "U02P.SYX").string() + "\r\n");
  ui::MainWindow& w = program.Window();
  EventCounter painted(QEvent::Paint);
  int handOvers = 0, paintedBeforeTheSecond = 0;
  bool openWhileSent = false;
  program.Transmit().SetHandOverObserver([&](const transmit::HandOver&) {
    ui::ProgressDialog& splash = *program.ProgressWindow().Window();
    const auto close = [&] { QCoreApplication::postEvent(splash.windowHandle(), new QCloseEvent); };
    switch (++handOvers) {
      case 1: splash.installEventFilter(&painted); close(); break;
      case 2: {
        paintedBeforeTheSecond = painted.count;
        for (QWidget* c : std::initializer_list<QWidget*>{w.startButton, w.addButton, w.sendButton, w.helpButton, w.stopButton, w.saveButton,
                                                          w.speedButton, w.quitButton, w.inputList, w.outputList, w.filesBox}) {
          EXPECT_FALSE(splash.frameGeometry().intersects(QRect(c->mapToGlobal(QPoint(0, 0)), c->size())))
              << c->objectName().toStdString() << c->geometry().x();
        }
        fs::create_directories(VZ_SCREENSHOT_DIR);
        EXPECT_TRUE(splash.grab().save(QString::fromUtf8(VZ_SCREENSHOT_DIR) + "/ProgressDialog-sending.png"));
        break;
      }
      case 3: openWhileSent = dialogs.Answer(roles::Answer::No); close(); break;
      case 4: dialogs.Answer(roles::Answer::Yes); break;
      case 6: EXPECT_EQ(splash.timeLeftLabel->text().toStdString(), "750 of 1350 bytes; finishing U01 pattern, then stopping");
              close(); break;
      case 7: dialogs.Answer(roles::Answer::Yes); break;
      default: break;
    }
    EXPECT_TRUE(splash.isVisible());
  });
  w.sendButton->click();

  EXPECT_GT(paintedBeforeTheSecond, 0) << "drawn during the first pause";
  EXPECT_TRUE(openWhileSent) << "blocks went while the question was open";
  EXPECT_EQ(dialogs.Texts(), (Strings{transmit::kSendPrompt, "Do you want to abort?", "Do you want to abort?",
                                      "Stop at once? U01 pattern would be left incomplete on the MC-303.",
                                      std::string("U01 pattern") + transmit::kLeftIncomplete}));
  EXPECT_EQ(dialogs.messages[1].title, "Question");
  EXPECT_EQ(dialogs.messages[1].buttons, roles::Buttons::YesNoCancel);
  EXPECT_EQ(ports.OutputMessages().size(), 7u);
  EXPECT_EQ(program.Boxes().trafficBox.Text().find("41 00 00 00"), std::string::npos) << "the second file was not read";
  EXPECT_FALSE(program.ProgressWindow().Window()->isVisible());
  program.ShutDown();
  fs::remove_all(dir);
}

// Quit during a Send asks, and the Send goes on meanwhile; Yes finishes the part being
// sent, U01's pattern, and the program ends after it without sending U02's. A signal
// does the same without asking; a second one stops the Send at once.
using Act = std::function<void(app::Program&, ScriptedDialogs&)>;
struct Ending {
  const char* name;
  std::vector<std::pair<std::size_t, Act>> atHandOver;  // of the block numbered from 1
  std::size_t blocksSent;
  std::string shown;  // after the prompt
};
class QuittingASend : public Window, public testing::WithParamInterface<Ending> {};

TEST_P(QuittingASend, FinishesThePartBeingSentUnlessSignalledTwice) {
  Boxes().filesBox.SetText(File("A_U01P.SYX", Cat({Message(0x40, 0, 138), Message(0x40, 1, 138), Message(0x40, 2, 138)})) +
                         "\r\n" + File("B_U02P.SYX", Message(0x41, 0, 138)) + "\r\n");
  onHandOver = [&] {
    for (const auto& [block, act] : GetParam().atHandOver) {
      if (block == seen.size() + 1) act(*program, dialogs);
    }
  };
  duringPump = [&] {
    if (pump.calls == 3) w->sendButton->click();
  };
  pump.calls = 0;
  program->RunReceiveLoop();
  Strings shown{transmit::kSendPrompt};
  if (!GetParam().shown.empty()) shown.push_back(GetParam().shown);
  EXPECT_EQ(Shown(), shown);
  EXPECT_EQ(ports.OutputMessages().size(), GetParam().blocksSent);
  program->ShutDown();
}

const Act kSignal = [](app::Program& p, ScriptedDialogs&) { p.EndOnSignal(); };
const Act kQuit = [](app::Program& p, ScriptedDialogs&) { p.Window().quitButton->click(); };
const Act kYes = [](app::Program&, ScriptedDialogs& d) { d.Answer(roles::Answer::Yes); };
INSTANTIATE_TEST_SUITE_P(
    Window, QuittingASend,
    testing::Values(Ending{"QuitAnsweredYes", {{2, kQuit}, {3, kYes}}, 3,
                           app::kQuitDuringSend[0] + std::string("U01 pattern") + app::kQuitDuringSend[1]},
                    Ending{"Signal", {{2, kSignal}}, 3, ""},
                    Ending{"TwoSignals", {{1, kSignal}, {2, kSignal}}, 2,
                           std::string("U01 pattern") + transmit::kLeftIncomplete}),
    [](const auto& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Window, DuringASend,
    testing::Values(Interruption{"NothingPressed", nullptr},
                    Interruption{"Send", [](ui::MainWindow& w) { ClickOn(*w.sendButton); }},
                    Interruption{"Start", [](ui::MainWindow& w) { ClickOn(*w.startButton); }},
                    Interruption{"Stop", [](ui::MainWindow& w) { ClickOn(*w.stopButton); }},
                    Interruption{"Save", [](ui::MainWindow& w) { ClickOn(*w.saveButton); }},
                    Interruption{"Add", [](ui::MainWindow& w) { ClickOn(*w.addButton); }},
                    Interruption{"Speed", [](ui::MainWindow& w) { ClickOn(*w.speedButton); }},
                    Interruption{"Help", [](ui::MainWindow& w) { ClickOn(*w.helpButton); }},
                    Interruption{"Rescan", [](ui::MainWindow& w) { ClickOn(*w.rescanButton); }},
                    Interruption{"BackspaceInTheFilesBox",
                                 [](ui::MainWindow& w) { KeyInFiles(w, 3, 3, Qt::Key_Backspace, "\b"); }},
                    Interruption{"AnotherInput", [](ui::MainWindow& w) { PressKey(*w.inputList, Qt::Key_Down); }},
                    Interruption{"AnotherOutput", [](ui::MainWindow& w) { PressKey(*w.outputList, Qt::Key_Down); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
