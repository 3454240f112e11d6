// capture-window: the window program offscreen on the real MIDI layer, driven through
// its own handlers as a user would. Start; after some 10 KB, Start again: the start-over
// question, a real modal box, stays open SECONDS (a timer answers No) while the dump goes
// on arriving, and nothing may be parsed meanwhile. After three quiet seconds, Stop saves
// FILE (compared by the script) and the pieces named after its stem, compared here with
// EXPECTED split by address and each listed. Then Send sends the list as Stop left it to
// the output OUT; 198 ms into four of its pauses (which begin once the block has left
// the line, 320 us a byte after its hand-over) come a click on Start, a click on Help,
// a move of the window and a key in the Files box. Each hand-over is written to
// HANDOVERS: its size, "paced" or "last", its time in microseconds and what came after.
// The time left the progress window shows as the second block goes must be the time
// the Send then takes until its last byte has left, within 5 % or 3 s (an eighth the
// other way, where a busy machine makes the pauses run long).
//   capture-window SECONDS EXPECTED IN OUT FILE HANDOVERS
// With repeat, Send is pressed COUNT times in one session (one engine, one open port)
// with FILE the only file listed; each must show nothing but its prompt and lose nothing
// (the script checks that OUT's device got FILE COUNT times over).
//   capture-window repeat OUT FILE COUNT
// An OUT not there at the start is plugged in later: the program prints "started", the
// script starts OUT's simulator and makes the file "plugged", and the rescan button
// must find it.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/Program.h"
#include "app/QtEventPump.h"
#include "fakes/ScriptedDialogs.h"
#include "midi/RtMidiPorts.h"
#include "support/SplitByAddress.h"
#include "support/UserInput.h"
#include "ui/QtDialogs.h"
#include "ui/TextBoxView.h"
#include "ui/MainWindow.h"
#include "ui/ProgressDialog.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr auto kQuietBeforeStop = std::chrono::seconds(3);
constexpr auto kFirstByteDeadline = std::chrono::seconds(60);
constexpr std::uint64_t kQuestionAfterBytes = 10000;

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The user, run from the program's event processing as clicks are.
class User final : public roles::EventPump {
 public:
  void PumpEvents() override {
    qt_.PumpEvents();
    Act();
  }
  void WaitForEvents() override {
    qt_.WaitForEvents();
    Act();
  }

  app::Program* program = nullptr;
  bool stopped = false, timedOut = false;
  std::uint64_t fedBeforeQuestion = 0, fedAfterQuestion = 0;

 private:
  void Act() {
    // A click's own event pumping must not click again.
    if (program == nullptr || acting_ || stopped || timedOut) return;
    acting_ = true;
    const Clock::time_point now = Clock::now();
    const std::uint64_t fed = program->Parse().BytesFed();
    if (!started_ || fed != lastFed_) lastChange_ = now;
    lastFed_ = fed;
    if (!started_) {
      started_ = true;
      startedAt_ = now;
      program->Window().startButton->click();
      std::cerr << "Recording; press Stop after " << kQuietBeforeStop.count() << " quiet seconds" << std::endl;
    } else if (fedBeforeQuestion == 0 && fed >= kQuestionAfterBytes) {
      fedBeforeQuestion = fed;
      program->Window().startButton->click();
      fedAfterQuestion = program->Parse().BytesFed();
      lastChange_ = Clock::now();
    } else if (fed > 0 && now - lastChange_ >= kQuietBeforeStop) {
      program->Window().stopButton->click();
      stopped = true;
      program->Window().sendButton->click();
    } else if (fed == 0 && now - startedAt_ >= kFirstByteDeadline) {
      timedOut = true;
    }
    if (stopped || timedOut) program->Flags().QuitRequested = true;
    acting_ = false;
  }

  app::QtEventPump qt_;
  bool acting_ = false, started_ = false;
  std::uint64_t lastFed_ = 0;
  Clock::time_point startedAt_, lastChange_;
};

int Fail(const std::string& why) {
  std::cerr << "capture-window: " << why << '\n';
  return 1;
}

// Chooses the list entry that holds `port`, as the user's choice in the list does.
bool Choose(QComboBox& list, const std::string& port) {
  const int i = list.findText(QString::fromStdString(port), Qt::MatchContains);
  if (i < 0) return false;
  list.setCurrentIndex(i);
  emit list.activated(i);
  return true;
}

// What the user does 198 ms into the pause after some hand-overs, late enough that
// whatever it costs would lengthen the pause.
std::map<int, std::pair<const char*, std::function<void(ui::MainWindow&)>>> UserDuringTheSend() {
  return {{20, {"click-start", [](ui::MainWindow& w) { ClickOn(*w.startButton); }}},
          {40, {"open-help", [](ui::MainWindow& w) { ClickOn(*w.helpButton); }}},
          {60, {"move-window", [](ui::MainWindow& w) { w.move(w.pos() + QPoint(40, 30)); }}},
          {80, {"key-in-files", [](ui::MainWindow& w) { PressKey(*w.filesBox, Qt::Key_Backspace, QStringLiteral("\b")); }}}};
}

int Repeat(const std::string& output, const std::string& file, int count) {
  ScriptedDialogs dialogs;
  midi::RtMidiPorts ports;
  app::QtEventPump pump;
  fs::create_directories("prog");
  app::Program program({ports, dialogs, pump, fs::absolute("prog")});
  if (!program.StartUp()) return Fail("the program did not start");
  if (!Choose(*program.Window().outputList, output)) {
    std::cout << "started" << std::endl;
    for (const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60); !fs::exists("plugged");) {
      if (Clock::now() > deadline) return Fail("no output port holds " + output);
      pump.PumpEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ClickOn(*program.Window().rescanButton);
    if (!Choose(*program.Window().outputList, output)) return Fail("the rescan did not find " + output);
  }
  program.Boxes().filesBox.SetText(file + "\r\n");
  for (int i = 1; i <= count; ++i) {
    dialogs.messages.clear();
    program.Window().sendButton->click();
    for (const ShownMessage& m : dialogs.messages) {
      if (m.text != transmit::kSendPrompt) return Fail("Send " + std::to_string(i) + " showed: " + m.text);
    }
  }
  program.ShutDown();
  if (const std::uint64_t lost = ports.LostOutputBytes(); lost != 0) {
    return Fail(std::to_string(lost) + " bytes did not reach the MIDI system");
  }
  std::cout << count << " Sends" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool repeat = argc == 5 && std::string(argv[1]) == "repeat";
  if (argc != 7 && !repeat) {
    return Fail("usage: capture-window SECONDS EXPECTED IN OUT FILE HANDOVERS | repeat OUT FILE COUNT");
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (repeat) return Repeat(argv[2], argv[3], std::atoi(argv[4]));

  const auto modal = std::chrono::seconds(std::atoi(argv[1]));
  const Bytes expected = ReadFile(argv[2]);
  const std::string input = argv[3], output = argv[4];
  // The pieces are named after FILE as given: a short relative name keeps a hundred of
  // them well inside the Files box.
  const fs::path overall = argv[5];
  const fs::path stem = overall.parent_path() / overall.stem();
  if (expected.empty()) return Fail(std::string("nothing in ") + argv[2]);

  // Wakes the event wait now and then, so the quiet time is seen without input.
  QTimer heartbeat;
  heartbeat.start(100);

  // A precise timer answers the real start-over box (a coarse one may fire 5 % early).
  ScriptedDialogs dialogs;
  dialogs.paths.push_back(overall.string());
  for (int s = 0; s < 50; ++s) dialogs.paths.push_back(stem.string() + ".SYX");
  int questions = 0;
  roles::Answer answer = roles::Answer::Cancel;
  Clock::duration openFor{};
  dialogs.onMessage = [&](const ShownMessage& m) {
    if (m.title != "WARNING") return;
    QTimer::singleShot(modal + std::chrono::milliseconds(20), Qt::PreciseTimer, [] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible()) box->button(QMessageBox::No)->click();
      }
    });
    const Clock::time_point opened = Clock::now();
    answer = ui::QtDialogs().MessageBox(m.text, m.buttons, m.title, m.icon);
    dialogs.answers.push_back(answer);
    openFor = Clock::now() - opened;
    ++questions;
  };

  midi::RtMidiPorts ports;
  User user;
  const fs::path programDirectory = fs::absolute("prog");
  fs::create_directories(programDirectory);
  app::Program program({ports, dialogs, user, programDirectory});
  if (!program.StartUp()) return Fail("the program did not start");
  if (!Choose(*program.Window().inputList, input)) return Fail("no input port holds " + input);
  if (!Choose(*program.Window().outputList, output)) return Fail("no output port holds " + output);

  std::ofstream handOvers(argv[6]);
  const auto during = UserDuringTheSend();
  int handedOver = 0;
  double toldSeconds = -1;
  Clock::time_point toldAt, lineFreeAt;
  program.Transmit().SetHandOverObserver([&](const transmit::HandOver& h) {
    ++handedOver;
    lineFreeAt = Clock::now() + std::chrono::microseconds(320 * h.bytes);
    if (handedOver == 2) {
      const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("about (\\d+):(\\d+) left"))
                                            .match(program.ProgressWindow().Window()->timeLeftLabel->text());
      if (m.hasMatch()) toldSeconds = m.captured(1).toInt() * 60 + m.captured(2).toInt();
      toldAt = Clock::now();
    }
    const auto act = during.find(handedOver);
    handOvers << h.bytes << (h.paced ? " paced " : " last ")
              << std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count()
              << (act != during.end() ? std::string(" ") + act->second.first : "") << std::endl;
    if (act == during.end()) return;
    const auto onTheLine = std::chrono::microseconds(320 * h.bytes);
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(onTheLine) + std::chrono::milliseconds(198),
                       Qt::PreciseTimer, [&program, act] {
      const Clock::time_point begun = Clock::now();
      act->second.second(program.Window());
      std::cout << act->second.first << " took "
                << std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun).count() << " us"
                << std::endl;
    });
  });

  user.program = &program;
  program.RunReceiveLoop();
  const std::string listed = program.Boxes().filesBox.Text();
  const std::uint64_t lost = ports.LostInputBytes() + ports.LostOutputBytes();
  const bool helpOpened = program.Window().ShownHelpWindow() != nullptr;
  program.ShutDown();

  if (user.timedOut) return Fail("nothing arrived");
  if (!user.stopped) return Fail("the capture never stopped");
  if (lost != 0) return Fail("the MIDI layer lost " + std::to_string(lost) + " bytes");
  const double open = std::chrono::duration<double>(openFor).count();
  if (questions != 1 || answer != roles::Answer::No) return Fail("the start-over question was not answered No once");
  if (open < static_cast<double>(modal.count())) return Fail("the question was open only " + std::to_string(open) + " s");
  if (user.fedAfterQuestion != user.fedBeforeQuestion) return Fail("bytes were parsed while the question was open");
  if (user.fedBeforeQuestion + 10000 > expected.size()) return Fail("the question came too late in the dump");
  std::cout << "the start-over question stayed open " << open << " s after " << user.fedBeforeQuestion
            << " bytes; the dump holds " << expected.size() << std::endl;
  if (handedOver < 100) return Fail("the Send handed over only " + std::to_string(handedOver) + " blocks");
  const double took = std::chrono::duration<double>(lineFreeAt - toldAt).count();
  std::cout << "time left shown as the second block went: " << toldSeconds << " s; the Send took " << took
            << " s more" << std::endl;
  // A machine busy with other work makes every pause run a little long, so the Send may
  // take longer than planned, never shorter: below, an eighth is allowed for that.
  if (toldSeconds < took - std::max(3.0, took / 8) || toldSeconds > took + std::max(3.0, took / 20)) {
    return Fail("the progress window's time left was wrong");
  }
  if (!helpOpened) return Fail("Help did not open during the Send");

  int failures = 0;
  for (const ShownMessage& m : dialogs.messages) {
    if (m.title == "Press OK Button" || m.title == "WARNING" || m.text == transmit::kSendPrompt) continue;
    std::cerr << "capture-window: shown: " << m.text << '\n';
    ++failures;
  }
  const SlotPieces pieces = SplitByAddress(expected);
  int saved = 0;
  for (const auto& [slot, pattern] : pieces.pattern) {
    if (pieces.settings.count(slot) == 0) continue;
    const std::string number{static_cast<char>('0' + (slot + 1) / 10), static_cast<char>('0' + (slot + 1) % 10)};
    for (const bool isPattern : {true, false}) {
      const std::string name = stem.string() + "_U" + number + (isPattern ? "P.SYX" : "S.SYX");
      if (ReadFile(name) != (isPattern ? pattern : pieces.settings.at(slot))) {
        std::cerr << "capture-window: " << name << " differs from the dump's piece\n";
        ++failures;
      }
      if (listed.find(name + "\r\n") == std::string::npos) {
        std::cerr << "capture-window: " << name << " is not listed in the Files box\n";
        ++failures;
      }
      ++saved;
    }
  }
  if (saved == 0) return Fail("the dump holds no complete slot");
  if (failures != 0) return 1;
  std::cout << saved << " piece files byte for byte, every one listed" << std::endl;
  return 0;
}
