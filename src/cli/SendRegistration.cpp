#include <memory>

#include "cli/Commands.h"
#include "cli/SendCommand.h"
#include "cli/Subcommands.h"
#include "midi/RtMidiPorts.h"
#include "platform/Platform.h"
#include "transmit/TransmitEngine.h"

namespace cli {

void AddSendCommand(CLI::App& app, int& status, Console& console) {
  auto options = std::make_shared<SendOptions>();
  CLI::App* sub = app.add_subcommand("send", "Send FILEs to the MC-303 in paced blocks, as Send does");
  sub->add_option("-p,--port", options->port, "Output slot number or a case-insensitive part of its name (default 0)")
      ->check(CLI::Validator([](std::string& v) { return v.empty() ? std::string("the name is empty") : ""; }, ""));
  // A block is handed over at the first message end past the size, so a size of the
  // output buffer or more could never be sent.
  sub->add_option("--buffer-size", options->bufferSize,
                  "Hand a block over at the first message end past this many bytes, 0 to 16383 (default: "
                  "SETTINGS.DAT, else 139)")
      ->check(CLI::Range(0, transmit::kOutputBufferBytes - 1));
  sub->add_option("--pause", options->pauseMs,
                  "Milliseconds of silence on the line after each paced block, 0 to 5000 (default: SETTINGS.DAT, "
                  "else 200)")
      ->check(CLI::Range(0, transmit::kMaxPauseMs));
  sub->add_flag("--dry-run", options->dryRun, "Open no port and do not pause; print the blocks that would go");
  AddCommonFlags(*sub, console, true);
  sub->add_option("FILE", options->files,
                  ".SYX files or Standard MIDI Files (their SysEx), sent in the order given; - for standard input")
      ->required();
  sub->callback([options, &status, &console] {
    options->programDirectory = platform::ProgramDirectory();
    options->userDataDirectory = UserDataDirectory();
    options->progress = !console.quiet && !console.json && platform::StandardErrorIsTerminal();
    if (options->dryRun) {
      status = RunSend(*options, nullptr, console);
      return;
    }
    platform::StopSignals signals;  // before the layer starts its threads
    midi::RtMidiPorts ports("Vezorizer", &signals.Flag());
    status = RunSend(*options, &ports, console, &signals.Count(), [&signals] { return signals.Signal(); });
  });
}

}  // namespace cli
