// capture-blocking: vezorizer-cli capture whose first pump after a byte blocks for two
// seconds, as a modal dialog would; what arrives meanwhile must still be saved.
#include <chrono>
#include <thread>

#include "cli/MidiCommands.h"
#include "midi/RtMidiPorts.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  cli::CaptureOptions options;
  options.port = argv[1];
  options.overall = argv[2];
  options.idleTimeoutSeconds = 3;
  bool blocked = false;
  cli::CaptureHooks hooks;
  hooks.onPump = [&blocked](std::uint64_t bytesReceived) {
    if (blocked || bytesReceived == 0) return;
    blocked = true;
    std::this_thread::sleep_for(std::chrono::seconds(2));
  };
  platform::StopSignals signals;
  midi::RtMidiPorts ports;
  cli::Console console;
  return cli::RunCapture(options, ports, signals.Flag(), console, hooks);
}
