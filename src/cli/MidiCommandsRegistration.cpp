#include <memory>

#include "cli/Commands.h"
#include "cli/MidiCommands.h"
#include "cli/Subcommands.h"
#include "midi/RtMidiPorts.h"

namespace cli {

void AddPortsCommand(CLI::App& app, int& status) {
  auto json = std::make_shared<bool>(false);
  CLI::App* sub = app.add_subcommand("ports", "List the MIDI device slots as the device lists hold them");
  sub->add_flag("--json", *json, "Print a JSON array");
  sub->callback([json, &status] {
    midi::RtMidiPorts ports;
    status = RunPorts(*json, ports);
  });
}

void AddCaptureCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<CaptureOptions>();
  CLI::App* sub = app.add_subcommand("capture", "Record a bulk dump from a MIDI input and save it as Stop does");
  sub->add_option("--port", options->port, "Input slot number or a case-insensitive part of its name (default 0)");
  sub->add_option("--idle-timeout", options->idleTimeoutSeconds,
                  "End when this many seconds pass without a byte after the first one")
      ->check(CLI::PositiveNumber);
  sub->add_option("-o", options->overall, "The overall .SYX file")->required();
  sub->add_option("--base", options->base, "Also write the per-piece files under this base name");
  sub->callback([options, &status] {
    StopSignals signals;  // before the layer starts its threads
    midi::RtMidiPorts ports;
    status = RunCapture(*options, ports, signals.Flag());
  });
}

}  // namespace cli
