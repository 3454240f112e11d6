// Each subcommand registers its options with the parser and, when chosen, runs and
// stores the exit status.
#pragma once

#include <CLI/CLI.hpp>

namespace cli {

void AddInspectCommand(CLI::App& app, int& status);
void AddSplitCommand(CLI::App& app, int& status);
void AddConvertCommand(CLI::App& app, int& status);
void AddCombineCommand(CLI::App& app, int& status);
void AddPortsCommand(CLI::App& app, int& status);
void AddCaptureCommand(CLI::App& app, int& status);
void AddSendCommand(CLI::App& app, int& status);

}  // namespace cli
