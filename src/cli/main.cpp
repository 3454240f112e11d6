// vezorizer-cli: the librarian's jobs from a shell, on the same core as the window.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <new>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/JsonWriter.h"
#include "cli/Subcommands.h"
#include "platform/Platform.h"

namespace {

bool WantsJson(int argc, char** argv) {
  return std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string_view(a) == "--json"; });
}

void SayError(cli::Console& console, bool json, const std::string& text) {
  console.Error(text);
  if (json) cli::JsonWriter(console.out).Field("error", text).End();
}

const CLI::App* FindSubcommand(const CLI::App& app, const std::string& name) {
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->check_name(name)) return sub;
  }
  return nullptr;
}

// The subcommand a name starts, or the ones it might have meant.
std::string UnknownSubcommand(const CLI::App& app, const std::string& name) {
  std::string text = "unknown subcommand '" + name + "'";
  std::string guesses;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->get_name().rfind(name, 0) == 0) guesses += (guesses.empty() ? "" : " or ") + sub->get_name();
  }
  if (!guesses.empty()) text += "; did you mean " + guesses + "?";
  return text + " (see vezorizer-cli help)";
}

int Run(int argc, char** argv, cli::Console& console) {
  CLI::App app{"Vezorizer: librarian for the Roland MC-303 Groovebox", "vezorizer-cli"};
  app.set_version_flag("--version", std::string("vezorizer-cli ") + VZ_VERSION);
  app.add_flag("-q,--quiet", console.quiet, "Say nothing on stderr but errors");
  // One subcommand a run: a later word that names another one (help inspect) is its argument.
  app.require_subcommand(0, 1);
  int status = cli::kExitOk;

  cli::AddInspectCommand(app, status, console);
  cli::AddSplitCommand(app, status, console);
  cli::AddCombineCommand(app, status, console);
  cli::AddCompareCommand(app, status, console);
  cli::AddRenumberCommand(app, status, console);
  cli::AddConvertCommand(app, status, console);
  cli::AddPortsCommand(app, status, console);
  cli::AddSendCommand(app, status, console);
  cli::AddCaptureCommand(app, status, console);

  auto topic = std::make_shared<std::string>();
  CLI::App* help = app.add_subcommand("help", "Show how to use vezorizer-cli, or one COMMAND");
  help->add_option("COMMAND", *topic, "The subcommand to show");
  help->callback([&app, &status, &console, topic] {
    if (topic->empty()) {
      // Once a subcommand is chosen, App::help() shows that one's: here, help's own.
      console.out << app.get_formatter()->make_help(&app, "vezorizer-cli", CLI::AppFormatMode::Normal);
    } else if (const CLI::App* sub = FindSubcommand(app, *topic); sub != nullptr) {
      console.out << sub->help("vezorizer-cli");
    } else {
      console.Error(UnknownSubcommand(app, *topic));
      status = cli::kExitUsageOrIo;
    }
  });

  // The first word that is not an option names the subcommand.
  const auto first = std::find_if(argv + 1, argv + argc, [](const char* a) { return a[0] != '-'; });
  if (first == argv + argc && std::none_of(argv + 1, argv + argc, [](const char* a) {
        return std::string_view(a) == "--version" || std::string_view(a) == "-h" || std::string_view(a) == "--help";
      })) {
    std::cerr << app.help();
    SayError(console, false, "a subcommand is required (see vezorizer-cli help)");
    return cli::kExitUsageOrIo;
  }
  if (first != argv + argc && FindSubcommand(app, *first) == nullptr) {
    SayError(console, false, UnknownSubcommand(app, *first));
    return cli::kExitUsageOrIo;
  }

  const bool json = WantsJson(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, -h and --version
    return app.exit(e, console.out, console.err);
  } catch (const CLI::ParseError& e) {
    std::string where = app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name();
    SayError(console, json, std::string(e.what()) + " (see vezorizer-cli help " + where + ")");
    return cli::kExitUsageOrIo;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseBinaryStandardStreams();
  cli::StandardOutputBuffer standardOutput;
  std::streambuf* former = std::cout.rdbuf(&standardOutput);
  cli::Console console(std::cout, std::cerr);
  int status = cli::kExitUsageOrIo;
  try {
    status = Run(argc, argv, console);
  } catch (const std::bad_alloc&) {
    SayError(console, WantsJson(argc, argv), "not enough memory");
    status = cli::kExitUsageOrIo;
  }
  std::cout.flush();
  std::cout.rdbuf(former);
  if (const int error = standardOutput.Error(); error != 0) {
    // A reader that has gone (head, a closed pager) wanted no more: no word about it.
    if (!platform::IsBrokenPipe(error)) console.Error("standard output", platform::ErrorText(error));
    return cli::kExitUsageOrIo;
  }
  return status;
}
