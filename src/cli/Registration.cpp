// The options every subcommand shares, and those of inspect and split.
#include "cli/Commands.h"
#include "cli/Subcommands.h"

namespace cli {
namespace {

constexpr const char* kFileHelp =
    ".SYX files or Standard MIDI Files (their SysEx), fed in the order given; - for standard input";

}  // namespace

void AddCommonFlags(CLI::App& sub, Console& console, bool json) {
  sub.add_flag("-q,--quiet", console.quiet, "Say nothing on stderr but errors");
  if (json) sub.add_flag("--json", console.json, "Print one JSON object, also when the command fails");
}

void AddInspectCommand(CLI::App& app, int& status, Console& console) {
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* sub = app.add_subcommand("inspect", "Report every message of the FILEs and the pieces found");
  AddCommonFlags(*sub, console, false);
  sub->add_flag("--json", console.json,
                "Print one JSON object, also when the command fails. For a MIDI file, a message's file is the .mid "
                "and its offset is where its 0xF0 stands in the SysEx bytes read out of the file");
  sub->add_option("FILE", *files, kFileHelp)->required();
  sub->callback([files, &status, &console] { status = RunInspect(*files, console); });
}

void AddSplitCommand(CLI::App& app, int& status, Console& console) {
  struct Options {
    std::optional<std::string> base;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("split", "Write every complete user slot of the FILEs as two piece files");
  sub->add_option("--base", options->base, "Base name of the piece files (default: the first FILE less .SYX)");
  AddCommonFlags(*sub, console, true);
  sub->add_option("FILE", options->files, kFileHelp)->required();
  sub->callback([options, &status, &console] { status = RunSplit(options->base, options->files, console); });
}

}  // namespace cli
