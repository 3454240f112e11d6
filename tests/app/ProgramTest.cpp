// The window program's start-up, receive loop and shut-down, offscreen, on the fake
// MIDI layer with scripted dialogs. The event pump is a test pump: each of its calls
// stands for one 100 ms tick of the title window while that window shows, so the
// start-up's waits run without real time passing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QObject>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "DumpGenerator.h"
#include "app/Program.h"
#include "app/ProgramDirectory.h"
#include "app/QtEventPump.h"
#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "ui/TextBoxView.h"
#include "ui/fHelp.h"
#include "ui/fTBufSiz.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kPrompt = "PRESS START\r\nBEFORE DOING\r\nBULK DUMP!";

struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& name)
      : path(fs::temp_directory_path() / ("vz-program-" + name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

Bytes ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgramRig {
 public:
  explicit ProgramRig(const std::string& name) : dir(name) {}

  app::Program& Make() {
    program = std::make_unique<app::Program>(app::ProgramEnvironment{ports, dialogs, pump, allocator, dir.path});
    pump.onPump = [this] {
      ui::fTitle* t = program->TitleWindow();
      if (t != nullptr && t->Showing()) {
        if (program->Window().isVisible()) mainShownWithTitle = true;
        t->Timer1Tick();
        ++titleTicks;
      }
      if (onPump) onPump();
    };
    return *program;
  }

  // Passes of the receive loop until the fake layer has handed everything over and
  // a pass finds nothing left to do.
  void Drain() {
    ASSERT_TRUE(ports.WaitUntilDelivered());
    while (program->Loop().RunPass() == app::ReceiveLoop::Pass::Worked) {
    }
  }

  TempDir dir;
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountingPump pump;
  midi::HeapBlockAllocator allocator;
  std::function<void()> onPump;
  int titleTicks = 0;
  bool mainShownWithTitle = false;
  std::unique_ptr<app::Program> program;  // last: goes before the ports it uses
};

TEST(StartUp, WithoutAnyPortShowsTheNoticeAndNeverTheMainWindow) {
  ProgramRig rig("noports");
  app::Program& program = rig.Make();
  EXPECT_EQ(program.Main(), 0);
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, "No MIDI devices currently connected.");
  EXPECT_EQ(rig.dialogs.messages[0].title, "Notice");
  EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Icon::Exclamation);
  EXPECT_FALSE(program.Window().isVisible());
  EXPECT_FALSE(program.Pool().Allocated());
}

TEST(StartUp, InputOnlyInSlotOneAndOutputOnlyInSlotZero) {
  ProgramRig rig("split");
  rig.ports.AddSlot("", "Out A");
  rig.ports.AddSlot("In B", "");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  EXPECT_EQ(program.Devices().DeviceSlotCount, 2);
  // The input list ends at slot 0, which has no input port.
  EXPECT_EQ(program.Window().cInp->count(), 0);
  ASSERT_EQ(program.Window().cOut->count(), 1);
  EXPECT_EQ(program.Window().cOut->itemText(0), QStringLiteral("Out A"));
  EXPECT_EQ(program.Devices().SelectedInput, 0);
  EXPECT_EQ(program.Devices().SelectedOutput, 0);
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_FALSE(program.Flags().QuitRequested);
  EXPECT_TRUE(program.Window().isVisible());
}

TEST(StartUp, MainWindowShowsOnlyOnceTheTitleHasCountedDown) {
  ProgramRig rig("title");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  EXPECT_EQ(rig.titleTicks, 10);
  EXPECT_FALSE(rig.mainShownWithTitle);
  EXPECT_TRUE(program.Window().isVisible());
  EXPECT_FALSE(program.TitleWindow()->Showing());
  EXPECT_EQ(program.Boxes().tDev.Text(), kPrompt);
  EXPECT_EQ(program.Window().tDev->toPlainText(), QStringLiteral("PRESS START\nBEFORE DOING\nBULK DUMP!"));
  EXPECT_EQ(program.Window().windowTitle(), QStringLiteral("Velk's MC303 Vezorizer"));
}

TEST(StartUp, AKeyInTheTitleWindowShowsTheMainWindowAtOnce) {
  ProgramRig rig("titlekey");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  rig.onPump = [&rig] {
    ui::fTitle* t = rig.program->TitleWindow();
    if (rig.titleTicks == 3 && t->Showing()) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
      QCoreApplication::sendEvent(t, &key);
    }
  };
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  EXPECT_EQ(rig.titleTicks, 3);
  EXPECT_FALSE(rig.mainShownWithTitle);
  EXPECT_TRUE(program.Window().isVisible());
  EXPECT_TRUE(program.Title().TitleDismissed);
}

TEST(MainWindow, PromptBlinksUnlessSuppressedOrDisabled) {
  ProgramRig rig("blink");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  ui::fMIDI& w = program.Window();
  EXPECT_TRUE(w.Timer1.isActive());
  EXPECT_EQ(w.Timer1.interval(), 500);
  w.Timer1Tick();
  EXPECT_EQ(program.Boxes().tDev.Text(), "");
  w.Timer1Tick();
  EXPECT_EQ(program.Boxes().tDev.Text(), kPrompt);

  // A transmit writes its report lines here: the blink must leave them alone.
  program.Parse().Log().Suppressed = true;
  program.Boxes().tDev.SetText("40000000 129 BYTES.\r\n");
  w.Timer1Tick();
  w.Timer1Tick();
  EXPECT_EQ(program.Boxes().tDev.Text(), "40000000 129 BYTES.\r\n");
  program.Parse().Log().Suppressed = false;
  program.MainState().BlinkEnabled = false;  // as Start leaves it
  w.Timer1Tick();
  EXPECT_EQ(program.Boxes().tDev.Text(), "40000000 129 BYTES.\r\n");
}

// Hex of bytes first..last, three characters each, worked out here by hand.
std::string Hex(const Bytes& bytes, std::size_t first, std::size_t last) {
  std::string s;
  char text[4];
  for (std::size_t i = first; i <= last; ++i) {
    std::snprintf(text, sizeof text, "%02X ", bytes[i]);
    s += text;
  }
  return s;
}

TEST(MainWindow, TrafficBoxKeepsTheNewestBytesWithinItsMaximum) {
  ProgramRig rig("traffic");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  // 59 bytes of one SysEx message: F0, 57 data bytes 0x01..0x39, F7.
  Bytes message{0xF0};
  for (int i = 1; i <= 57; ++i) message.push_back(static_cast<std::uint8_t>(i));
  message.push_back(0xF7);
  rig.ports.SendSysex(0, message);
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  ui::TextBox& tTraffic = program.Boxes().tTraffic;
  while (program.Parse().BytesFed() < 58) program.Loop().RunPass();
  // 58 bytes fill the box to 174 characters.
  EXPECT_EQ(tTraffic.Text(), Hex(message, 0, 57));
  EXPECT_EQ(tTraffic.Length(), 174);
  rig.Drain();
  // The 59th leaves the last 87 characters (bytes 29..57, 29 x 3) and its own three.
  EXPECT_EQ(tTraffic.Text(), Hex(message, 29, 58));
  EXPECT_EQ(program.Window().tTraffic->toPlainText().toStdString(), tTraffic.Text());
}

TEST(DeviceSelection, ChangingTheInputDuringACaptureMovesThePoolAndKeepsRecording) {
  ProgramRig rig("switch");
  rig.ports.AddSlot("In A", "Out A");
  rig.ports.AddSlot("In B", "Out B");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  program.Flags().RecordingActive = true;  // as Start arms a capture
  program.Parse().ResetPieceStore();

  const std::uint8_t address[4] = {0x40, 0x00, 0x00, 0x00};
  const Bytes first = dumpgen::DataSetMessage(0x10, address, Bytes(100, 0x11));
  const Bytes second = dumpgen::DataSetMessage(0x10, address, Bytes(50, 0x22));
  const Bytes ignored = dumpgen::DataSetMessage(0x10, address, Bytes(10, 0x33));
  rig.ports.SendSysex(0, first);
  rig.Drain();

  // The user chooses the second input: the pool leaves slot 0, which stops.
  emit program.Window().cInp->activated(1);
  EXPECT_EQ(program.Devices().SelectedInput, 1);
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 4u);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 0u);
  rig.ports.SendSysex(0, ignored);
  rig.ports.SendSysex(1, second);
  rig.Drain();

  EXPECT_TRUE(program.Flags().RecordingActive);
  program.Parse().CloseOutfile();
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(ReadBytes(rig.dir.path / "OUTFILE.SYX"), expected);
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

TEST(MainWindow, BackspaceInTheFilesBoxRemovesTheLineAtTheCaret) {
  ProgramRig rig("files");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  std::string lines;
  for (const char* name : {"A.SYX", "BB.SYX", "C.SYX"}) {
    const fs::path p = rig.dir.path / name;
    std::ofstream(p, std::ios::binary).put(static_cast<char>(0xFE));
    lines += p.string() + "\r\n";
  }
  program.Boxes().tFiles.SetText(lines);
  ui::TextBoxView& view = *program.Window().tFiles;
  // The caret after the last character of the second line, in widget positions.
  const QString shown = view.toPlainText();
  const int endOfSecond = static_cast<int>(shown.indexOf(QLatin1Char('\n'), shown.indexOf(QLatin1Char('\n')) + 1));
  QTextCursor c = view.textCursor();
  c.setPosition(endOfSecond);
  view.setTextCursor(c);
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
  QCoreApplication::sendEvent(&view, &key);

  EXPECT_EQ(program.Boxes().tFiles.Text(),
            (rig.dir.path / "A.SYX").string() + "\r\n" + (rig.dir.path / "C.SYX").string() + "\r\n");
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

class EndingTheProgram : public ::testing::TestWithParam<bool> {};

// Quit and the window's close box both end the program through the receive loop,
// during a capture too, without asking where to save anything.
TEST_P(EndingTheProgram, EndsTheLoopAndClosesEveryPortWithoutSaving) {
  ProgramRig rig(GetParam() ? "quit" : "close");
  rig.ports.AddSlot("In A", "Out A");
  rig.ports.AddSlot("In B", "Out B");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  program.Flags().RecordingActive = true;
  int calls = 0;
  rig.onPump = [&] {
    if (++calls != 5) return;
    if (GetParam()) {
      program.Window().bQuit->click();
    } else {
      program.Window().close();
    }
  };
  program.RunReceiveLoop();
  EXPECT_TRUE(program.Flags().QuitRequested);
  program.ShutDown();
  EXPECT_TRUE(rig.dialogs.fileDialogs.empty());
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_FALSE(rig.ports.InputOpen(0));
  EXPECT_FALSE(rig.ports.InputOpen(1));
  EXPECT_FALSE(program.Window().isVisible());
}

INSTANTIATE_TEST_SUITE_P(QuitOrClose, EndingTheProgram, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "QuitButton" : "CloseBox"); });

TEST(MainWindow, SpeedAndHelpOpenBesideItAndHelpRereadsItsFile) {
  ProgramRig rig("help");
  rig.ports.AddSlot("MC-303 In", "MC-303 Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  ui::fMIDI& w = program.Window();

  w.Command1->click();
  ASSERT_NE(w.SpeedWindow(), nullptr);
  EXPECT_TRUE(w.SpeedWindow()->isVisible());
  EXPECT_EQ(w.SpeedWindow()->tBufSiz->text(), QStringLiteral("139"));

  w.Command2->click();
  ASSERT_NE(w.HelpWindow(), nullptr);
  EXPECT_EQ(w.HelpWindow()->tBoxText.Text(), "No help file available.");
  EXPECT_TRUE(w.isVisible());
  w.HelpWindow()->close();

  std::ofstream(rig.dir.path / "README.TXT", std::ios::binary) << "Hello, world\n42\n";
  w.Command2->click();
  EXPECT_EQ(w.HelpWindow()->tBoxText.Text(), "Hello, world\r\n42\r\n");
  ui::fHelp* open = w.HelpWindow();
  w.Command2->click();  // while open: only brought forward
  EXPECT_EQ(w.HelpWindow(), open);
}

TEST(MainWindow, Screenshot) {
  ProgramRig rig("screenshot");
  rig.ports.AddSlot("MC-303 MIDI In", "MC-303 MIDI Out");
  app::Program& program = rig.Make();
  ASSERT_TRUE(program.StartUp());
  program.Flags().RecordingActive = true;
  program.Parse().ResetPieceStore();
  program.MainState().BlinkEnabled = false;
  program.Boxes().tDev.SetText("");
  dumpgen::DumpOptions options;
  options.slotCount = 6;
  options.maxPatternBytes = 300;
  rig.ports.SendSysex(0, dumpgen::GenerateDump(options));
  rig.Drain();
  program.Boxes().tFiles.SetText("/home/user/MC303/BACKUP_U01P.SYX\r\n/home/user/MC303/BACKUP_U01S.SYX\r\n");
  fs::create_directories(VZ_SCREENSHOT_DIR);
  EXPECT_TRUE(program.Window().grab().save(QString::fromUtf8(VZ_SCREENSHOT_DIR) + "/fMIDI.png"));
}

TEST(IdleWait, MidiInputWakesTheWaitForWindowEvents) {
  FakeMidiPorts ports;
  ports.AddSlot("In", "Out");
  midi::InputRings rings;
  midi::PortHandle in = 0;
  ports.InOpen(&in, 0, &midi::MidiInCallback, midi::CallbackInstance(rings));
  ports.InStart(in);
  app::QtEventPump pump;
  bool gaveUp = false;
  {
    app::QtIdleWait idle(rings, pump);
    // Only a safety net: without the wake-up the wait below would last for ever.
    QTimer::singleShot(std::chrono::seconds(20), [&gaveUp] { gaveUp = true; });
    std::thread sender([&ports] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ports.SendShort(0, {0xFE});
    });
    while (rings.Empty() && !gaveUp) idle.WaitForInput();
    sender.join();
  }
  EXPECT_FALSE(gaveUp);
  EXPECT_FALSE(rings.Empty());
  ports.InClose(in);
}

// An interval no test run outlasts, so that which pumps process does not depend on the
// machine's speed.
TEST(QtPump, ProcessesAtMostOncePerIntervalButAWaitAlwaysProcesses) {
  QObject receiver;
  int delivered = 0;
  const auto post = [&] { QMetaObject::invokeMethod(&receiver, [&delivered] { ++delivered; }, Qt::QueuedConnection); };
  app::QtEventPump pump(std::chrono::hours(1));
  post();
  pump.PumpEvents();
  EXPECT_EQ(delivered, 1) << "the first pump processes";
  post();
  pump.PumpEvents();
  EXPECT_EQ(delivered, 1) << "within the interval a pump leaves events pending";
  pump.WaitForEvents();
  EXPECT_EQ(delivered, 2) << "a wait processes what is pending and returns";
  post();
  pump.PumpEvents();
  EXPECT_EQ(delivered, 2) << "the interval runs from the wait";
  pump.WaitForEvents();
  EXPECT_EQ(delivered, 3);
}

TEST(ProgramDirectory, TheExecutablesDirectoryUnlessItCannotBeWritten) {
  TempDir dir("directory");
  const fs::path exe = dir.path / "bin";
  const fs::path user = dir.path / "user" / "Vezorizer";
  fs::create_directories(exe);
  std::ofstream(exe / "README.TXT") << "help\n";
  EXPECT_EQ(app::ChooseProgramDirectory(exe, user, {exe}), exe);
  EXPECT_FALSE(fs::exists(user));
  // A directory that is not there cannot take SETTINGS.DAT: the user's directory is
  // made and gets the help text.
  EXPECT_EQ(app::ChooseProgramDirectory(dir.path / "gone", user, {dir.path / "gone", exe}), user);
  std::ifstream help(user / "README.TXT");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(help), {}), "help\n");
}

}  // namespace
