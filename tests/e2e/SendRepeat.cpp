// send-repeat: Send pressed COUNT times in one session (one engine, one open port) on the
// real MIDI layer, FILE at buffer size 139; each must finish, show only its prompt and
// lose nothing. The script checks that the peer got FILE COUNT times over.
//   send-repeat PORT FILE COUNT
#include <chrono>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "cli/CliSession.h"
#include "midi/InputBufferPool.h"
#include "midi/MidiDevices.h"
#include "midi/RtMidiPorts.h"
#include "transmit/PacingCountdown.h"
#include "transmit/TransmitEngine.h"
#include "ui/ProgressWindow.h"

namespace {

// Timer3 and the event pump: a tick at every whole millisecond while switched on.
class Timer3Pump final : public ui::EventPump, public transmit::PaceTimer {
 public:
  explicit Timer3Pump(transmit::PacingCountdown& countdown) : countdown_(countdown) {}
  void SwitchOn() override { on_ = true; }
  void PumpEvents() override {
    const auto now = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now().time_since_epoch())
                                                    .count());
    if (!on_ || now == lastMs_) return;
    lastMs_ = now;
    countdown_.Tick(static_cast<std::uint32_t>(now));
    on_ = !countdown_.Idle();
  }
  void WaitForEvents() override {
    if (on_) std::this_thread::sleep_for(std::chrono::microseconds(500));
    PumpEvents();
  }

 private:
  transmit::PacingCountdown& countdown_;
  bool on_ = false;
  std::uint64_t lastMs_ = 0;
};

// The Send prompt is answered OK; any other message is a failure, told at the end.
class QuietDialogs final : public ui::Dialogs {
 public:
  ui::Answer MessageBox(std::string_view text, ui::Buttons, std::string_view, ui::Icon) override {
    if (text != transmit::kSendPrompt && other.empty()) other = text;
    return ui::Answer::Ok;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::string other;
};

int Fail(const std::string& why) {
  std::cerr << "send-repeat: " << why << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: send-repeat PORT FILE COUNT");
  const std::string wanted = argv[1], file = argv[2];
  const int count = std::stoi(argv[3]);

  midi::RtMidiPorts ports;
  midi::DeviceState devices;
  midi::PortHandle handle = 0;
  for (int slot = 0; slot < midi::kMaxSlots && devices.SelectedOutput < 0; ++slot) {
    (void)ports.OutOpen(&handle, slot);
    if (handle == 0) return Fail("no output port holds " + wanted);
    std::string name;
    if (ports.OutGetDevCaps(handle, &name) != midi::kNoError || name.find(wanted) == std::string::npos) {
      ports.OutClose(handle);
      continue;
    }
    devices.DeviceSlotCount = static_cast<std::int16_t>(slot + 1);
    devices.SelectedOutput = static_cast<std::int16_t>(slot);
    devices.OutputHandles[static_cast<std::size_t>(slot)] = handle;
  }
  if (devices.SelectedOutput < 0) return Fail("no output port holds " + wanted);

  cli::CliSession session;
  session.tFiles.SetText(file + "\r\n");
  QuietDialogs dialogs;
  ui::NoProgressWindow splash;
  midi::HeapBlockAllocator allocator;
  transmit::PacingCountdown countdown;
  Timer3Pump timer3(countdown);
  const std::int32_t bufferSize = 139;  // the engine keeps a reference, as to the window's setting
  transmit::TransmitEngine engine({session.flags, session.parse, session.tFiles, session.tDev, session.tTraffic, ports,
                                   devices, allocator, dialogs, timer3, splash, countdown, timer3, bufferSize, {}});
  std::uint64_t handedOver = 0;
  engine.SetHandOverObserver([&](const transmit::HandOver& h) {
    if (h.result == midi::kNoError) handedOver += static_cast<std::uint64_t>(h.bytes);
  });

  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= count; ++i) {
    const std::string send = "Send " + std::to_string(i);
    if (engine.Send() != transmit::SendEnd::Finished) return Fail(send + " did not finish");
    if (engine.FilesNotOpened() != 0) return Fail(send + " could not open " + file);
    if (!dialogs.other.empty()) return Fail(send + " showed: " + dialogs.other);
  }
  ports.OutClose(handle);  // lets the port pass on what it still holds
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (const std::uint64_t lost = ports.LostOutputBytes(); lost != 0) {
    return Fail(std::to_string(lost) + " bytes did not reach the MIDI system");
  }
  std::cout << count << " Sends, " << handedOver << " bytes handed over in " << seconds << " s" << std::endl;
  return 0;
}
