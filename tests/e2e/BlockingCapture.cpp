// capture-blocking: vezorizer-cli capture as a user runs it, except that once the first
// byte has been received, one event pump blocks for two seconds, as a modal dialog
// opened at that moment would. Everything that arrives meanwhile must still be saved.
#include <chrono>
#include <thread>

#include "cli/MidiCommands.h"
#include "midi/RtMidiPorts.h"

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
  cli::StopSignals signals;
  midi::RtMidiPorts ports;
  return cli::RunCapture(options, ports, signals.Flag(), hooks);
}
