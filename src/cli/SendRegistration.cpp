#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/Commands.h"
#include "cli/MidiCommands.h"
#include "cli/SendCommand.h"
#include "cli/Subcommands.h"
#include "midi/RtMidiPorts.h"

namespace cli {

void AddSendCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<SendOptions>();
  CLI::App* sub = app.add_subcommand("send", "Send FILEs to the MC-303 in paced blocks, as Send does");
  sub->add_option("--port", options->port, "Output slot number or a case-insensitive part of its name (default 0)");
  sub->add_option("--buffer-size", options->bufferSize,
                  "Hand a block over at the first message end past this many bytes (default: SETTINGS.DAT, else 139)");
  sub->add_flag("--dry-run", options->dryRun, "Open no port and do not pause; print the blocks that would go");
  sub->add_flag("--json", options->json, "Print one JSON object");
  sub->add_option("FILE", options->files, ".SYX files, sent in the order given")->required();
  sub->callback([options, &status] {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) options->programDirectory = self.parent_path();
    options->userDataDirectory = UserDataDirectory();
    if (options->dryRun) {
      status = RunSend(*options, nullptr);
      return;
    }
    StopSignals signals;  // before the layer starts its threads
    midi::RtMidiPorts ports;
    status = RunSend(*options, &ports);
  });
}

}  // namespace cli
