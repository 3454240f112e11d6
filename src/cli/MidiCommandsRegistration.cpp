#include <cmath>
#include <memory>

#include "cli/Commands.h"
#include "cli/MidiCommands.h"
#include "cli/Subcommands.h"
#include "midi/RtMidiPorts.h"
#include "platform/Platform.h"

namespace cli {

void AddPortsCommand(CLI::App& app, int& status, Console& console) {
  CLI::App* sub = app.add_subcommand("ports", "List the MIDI device slots as the device lists hold them");
  AddCommonFlags(*sub, console, false);
  sub->add_flag("--json", console.json, "Print one JSON array, an object per slot");
  sub->callback([&status, &console] {
    midi::RtMidiPorts ports;
    status = RunPorts(ports, console);
  });
}

void AddCaptureCommand(CLI::App& app, int& status, Console& console) {
  auto options = std::make_shared<CaptureOptions>();
  CLI::App* sub = app.add_subcommand("capture", "Record a bulk dump from a MIDI input and save it as Stop does");
  sub->add_option("-p,--port", options->port, "Input slot number or a case-insensitive part of its name (default 0)")
      ->check(CLI::Validator([](std::string& v) { return v.empty() ? std::string("the name is empty") : ""; }, ""));
  sub->add_option("--idle-timeout", options->idleTimeoutSeconds,
                  "End when this many seconds (at most a day) pass without a byte after the first one")
      ->check(CLI::Validator(
          [](std::string& v) {
            double seconds = 0;
            const bool number = CLI::detail::lexical_cast(v, seconds);
            return number && std::isfinite(seconds) && seconds > 0 && seconds <= kMaxIdleTimeoutSeconds
                       ? std::string()
                       : "must be a number of seconds above 0 and at most " +
                             std::to_string(static_cast<int>(kMaxIdleTimeoutSeconds));
          },
          "SECONDS"));
  sub->add_option("-o,--output", options->overall, "The overall .SYX file")->required();
  sub->add_option("--base", options->base, "Also write the per-piece files under this base name");
  AddCommonFlags(*sub, console, true);
  sub->callback([options, &status, &console] {
    // Before the layer starts its threads. A closed terminal (SIGHUP), Ctrl-\ and any
    // other signal that would end the process end the capture as SIGINT does: the
    // recording is saved, and the MIDI ports are closed on the way out.
    platform::StopSignals signals(platform::StopOn::EveryEndingSignal);
    options->stopSignal = [&signals] { return signals.Signal(); };
    midi::RtMidiPorts ports("Vezorizer", &signals.Flag());
    status = RunCapture(*options, ports, signals.Flag(), console);
    options->stopSignal = nullptr;
  });
}

}  // namespace cli
