// Each subcommand registers its options with the parser and, when chosen, runs and
// stores the exit status. All of them speak through the one console.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/Console.h"

namespace cli {

// -q/--quiet on every subcommand, and --json where it prints a document.
void AddCommonFlags(CLI::App& sub, Console& console, bool json);

void AddInspectCommand(CLI::App& app, int& status, Console& console);
void AddSplitCommand(CLI::App& app, int& status, Console& console);
void AddConvertCommand(CLI::App& app, int& status, Console& console);
void AddCombineCommand(CLI::App& app, int& status, Console& console);
void AddCompareCommand(CLI::App& app, int& status, Console& console);
void AddRenumberCommand(CLI::App& app, int& status, Console& console);
void AddPortsCommand(CLI::App& app, int& status, Console& console);
void AddCaptureCommand(CLI::App& app, int& status, Console& console);
void AddSendCommand(CLI::App& app, int& status, Console& console);

}  // namespace cli
