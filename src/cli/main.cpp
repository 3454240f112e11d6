// vezorizer-cli: the librarian's jobs from a shell, on the same core as the window.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Subcommands.h"

namespace {

// A subcommand whose work has not been built yet takes any arguments and says so.
CLI::App* NotYet(CLI::App& app, const std::string& name, const std::string& what, int& status) {
  CLI::App* sub = app.add_subcommand(name, what + " (not available yet)");
  sub->allow_extras();
  sub->callback([name, &status] {
    std::cerr << "vezorizer-cli: '" << name << "' is not available yet\n";
    status = cli::kExitUsageOrIo;
  });
  return sub;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Vezorizer: librarian for the Roland MC-303 Groovebox", "vezorizer-cli"};
  app.require_subcommand(1);
  int status = cli::kExitOk;

  cli::AddInspectCommand(app, status);
  cli::AddSplitCommand(app, status);
  cli::AddCombineCommand(app, status);
  cli::AddPortsCommand(app, status);
  NotYet(app, "send", "Send FILEs to the MC-303 in paced blocks", status);
  cli::AddCaptureCommand(app, status);
  cli::AddConvertCommand(app, status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitUsageOrIo;
  }
  return status;
}
