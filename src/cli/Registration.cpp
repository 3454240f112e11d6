#include "cli/Commands.h"
#include "cli/Subcommands.h"

namespace cli {

void AddInspectCommand(CLI::App& app, int& status) {
  struct Options {
    bool json = false;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("inspect", "Report every message of the FILEs and the pieces found");
  sub->add_flag("--json", options->json, "Print one JSON object");
  sub->add_option("FILE", options->files, ".SYX files, fed in the order given")->required();
  sub->callback([options, &status] { status = RunInspect(options->json, options->files); });
}

void AddSplitCommand(CLI::App& app, int& status) {
  struct Options {
    std::optional<std::string> base;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("split", "Write every complete user slot of the FILEs as two piece files");
  sub->add_option("--base", options->base, "Base name of the piece files (default: the first FILE less .SYX)");
  sub->add_option("FILE", options->files, ".SYX files, fed in the order given")->required();
  sub->callback([options, &status] { status = RunSplit(options->base, options->files); });
}

}  // namespace cli
