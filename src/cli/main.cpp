// vezorizer-cli: the librarian's jobs from a shell, on the same core as the window.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/Commands.h"
#include "cli/Subcommands.h"

int main(int argc, char** argv) {
  CLI::App app{"Vezorizer: librarian for the Roland MC-303 Groovebox", "vezorizer-cli"};
  app.require_subcommand(1);
  int status = cli::kExitOk;

  cli::AddInspectCommand(app, status);
  cli::AddSplitCommand(app, status);
  cli::AddCombineCommand(app, status);
  cli::AddPortsCommand(app, status);
  cli::AddSendCommand(app, status);
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
