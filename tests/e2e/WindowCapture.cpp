// capture-window: the window program's own capture, offscreen, through the real MIDI
// layer. It starts the program as a user does, chooses the input whose name holds
// PORT, presses Start, lets the dump arrive, presses Stop once nothing has come for
// three seconds, and names the overall file FILE and every slot's pieces after FILE's
// stem. capture-e2e.sh compares FILE with the dump less 0xFE; this program compares
// the piece files with EXPECTED (that same dump less 0xFE), split by address.
//   capture-window EXPECTED PORT FILE
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/QtEventPump.h"
#include "fakes/ScriptedDialogs.h"
#include "midi/RtMidiPorts.h"
#include "support/SplitByAddress.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr auto kQuietBeforeStop = std::chrono::seconds(3);
constexpr auto kFirstByteDeadline = std::chrono::seconds(60);

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The user's side of the capture, run from the program's own event processing as
// clicks are: Start at the first chance, Stop once the dump has been quiet a while,
// then the program is told to end.
class User final : public ui::EventPump {
 public:
  void Attach(app::Program& program) { program_ = &program; }

  void PumpEvents() override {
    qt_.PumpEvents();
    Act();
  }
  void WaitForEvents() override {
    qt_.WaitForEvents();
    Act();
  }

  bool stopped = false;
  bool timedOut = false;

 private:
  void Act() {
    // A click's own event pumping must not click again.
    if (program_ == nullptr || acting_) return;
    acting_ = true;
    const Clock::time_point now = Clock::now();
    const std::uint64_t fed = program_->Parse().BytesFed();
    if (!started_) {
      started_ = true;
      program_->Window().bStart->click();
      std::cerr << "Recording; press Stop after " << kQuietBeforeStop.count() << " quiet seconds" << std::endl;
      lastFed_ = fed;
      lastChange_ = startedAt_ = now;
    } else if (!stopped) {
      if (fed != lastFed_) {
        lastFed_ = fed;
        lastChange_ = now;
      }
      const bool quiet = fed > 0 && now - lastChange_ >= kQuietBeforeStop;
      timedOut = fed == 0 && now - startedAt_ >= kFirstByteDeadline;
      if (quiet) {
        program_->Window().bStop->click();
        stopped = true;
      }
      if (quiet || timedOut) program_->Flags().QuitRequested = true;
    }
    acting_ = false;
  }

  app::QtEventPump qt_;
  app::Program* program_ = nullptr;
  bool acting_ = false;
  bool started_ = false;
  std::uint64_t lastFed_ = 0;
  Clock::time_point startedAt_, lastChange_;
};

int Fail(const std::string& why) {
  std::cerr << "capture-window: " << why << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: capture-window EXPECTED PORT FILE");
  const Bytes expected = ReadFile(argv[1]);
  const std::string port = argv[2];
  const fs::path overall = fs::absolute(argv[3]);
  if (expected.empty()) return Fail(std::string("nothing in ") + argv[1]);

  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // Wakes the event wait now and then, so the quiet time is seen without input.
  QTimer heartbeat;
  heartbeat.start(100);

  const fs::path programDirectory = fs::absolute("prog");
  fs::create_directories(programDirectory);
  const fs::path stem = overall.parent_path() / overall.stem();
  ScriptedDialogs dialogs;
  dialogs.paths.push_back(overall.string());
  for (int s = 0; s < 50; ++s) dialogs.paths.push_back(stem.string() + ".SYX");

  midi::RtMidiPorts ports;
  User user;
  midi::HeapBlockAllocator allocator;
  app::Program program({ports, dialogs, user, allocator, programDirectory});
  if (!program.StartUp()) return Fail("the program did not start");
  QComboBox& cInp = *program.Window().cInp;
  const int input = cInp.findText(QString::fromStdString(port), Qt::MatchContains);
  if (input < 0) return Fail("no input port holds " + port);
  cInp.setCurrentIndex(input);
  emit cInp.activated(input);  // as the user's choice in the list

  // Each message's report line, as the MC303 box shows it, for the script's count.
  program.Parse().SetMessageObserver([](const mc303::MessageReport& r) { std::cout << r.reportLine << '\n'; });
  user.Attach(program);
  program.RunReceiveLoop();
  const std::string listed = program.Boxes().tFiles.Text();
  const std::uint64_t lost = ports.LostInputBytes();
  program.ShutDown();

  if (user.timedOut) return Fail("nothing arrived");
  if (!user.stopped) return Fail("the capture never stopped");
  if (lost != 0) return Fail("the MIDI layer lost " + std::to_string(lost) + " bytes");
  int failures = 0;
  for (const ShownMessage& m : dialogs.messages) {
    if (m.title == "Press OK Button") continue;
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
