// convert: SysEx between raw .syx files and Standard MIDI Files, in whichever
// direction the input's contents and the output's name ask for.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "cli/StandardMidiFile.h"
#include "cli/Subcommands.h"
#include "mc303/SyxFiles.h"

namespace cli {
namespace {

bool EndsWithNoCase(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() &&
         std::equal(suffix.rbegin(), suffix.rend(), name.rbegin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool HasMidiExtension(const std::string& name) { return EndsWithNoCase(name, ".mid") || EndsWithNoCase(name, ".midi"); }

}  // namespace

int RunConvert(const std::string& in, const std::string& out, int intervalMs, bool keepStray) {
  ByteString input;
  if (auto error = mc303::ReadWholeFile(in, input)) {
    std::cerr << in << ": cannot read: " << *error << '\n';
    return kExitUsageOrIo;
  }
  // The output is written beside and then renamed over its target, so converting a
  // file onto itself would silently replace the only copy of the input.
  std::error_code ec;
  if (std::filesystem::equivalent(in, out, ec)) {
    std::cerr << out << ": is the same file as " << in << "; nothing written\n";
    return kExitUsageOrIo;
  }

  const bool toMidi = HasMidiExtension(out);
  ByteString output;
  if (IsStandardMidiFile(input)) {
    if (toMidi) {
      std::cerr << in << ": is a Standard MIDI File already; name OUT with .syx to take its SysEx out\n";
      return kExitUsageOrIo;
    }
    SmfReadResult read = ReadSysexFromSmf(input);
    if (read.error) {
      std::cerr << in << ": " << SmfErrorText(*read.error) << "; nothing written\n";
      return kExitUsageOrIo;
    }
    if (read.sysex.bytes.empty()) {
      std::cerr << in << ": holds no SysEx events; nothing written\n";
      return kExitDataProblem;
    }
    output = std::move(read.sysex.bytes);
  } else {
    if (!toMidi) {
      std::cerr << in << ": not a Standard MIDI File (it does not begin with \"MThd\"); "
                << "to make one from it, name OUT with .mid or .midi\n";
      return kExitUsageOrIo;
    }
    if (input.empty()) {
      std::cerr << in << ": is empty; nothing written\n";
      return kExitDataProblem;
    }
    const SmfWriteResult written = WriteSysexAsSmf(input, {intervalMs, keepStray}, output);
    if (written.error) {
      std::cerr << in << ": " << *written.error << "; nothing written\n";
      return kExitDataProblem;
    }
    if (written.leftOutBytes > 0) {
      std::cerr << in << ": left out " << written.leftOutBytes
                << " bytes that are not SysEx data (active sensing, clock, stray bytes); --keep-stray keeps them\n";
    }
    if (written.messages == 0) {
      std::cerr << in << ": holds no SysEx message; nothing written\n";
      return kExitDataProblem;
    }
  }

  if (auto error = mc303::ReplaceFile(out, output)) {
    std::cerr << out << ": cannot write: " << *error << '\n';
    return kExitUsageOrIo;
  }
  std::cout << out << '\n';
  return kExitOk;
}

void AddConvertCommand(CLI::App& app, int& status) {
  struct Options {
    std::string in;
    std::string out;
    SmfWriteOptions smf;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("convert", "Convert between .syx and Standard MIDI Files");
  sub->add_option("--interval", options->smf.intervalMs, "Milliseconds between messages in a written .mid")
      ->check(CLI::Range(0, kSmfMaxIntervalMs))
      ->capture_default_str();
  sub->add_flag("--keep-stray", options->smf.keepStray,
                "Keep the bytes outside SysEx messages (active sensing, clock, stray bytes) in a written .mid, "
                "for a byte-exact round trip; some MIDI file readers refuse such files");
  sub->add_option("IN", options->in, "A Standard MIDI File, or raw SysEx bytes")->required();
  sub->add_option("OUT", options->out, "Raw SysEx (.syx) from a .mid; a .mid/.midi from raw SysEx")->required();
  sub->callback([options, &status] {
    status = RunConvert(options->in, options->out, options->smf.intervalMs, options->smf.keepStray);
  });
}

}  // namespace cli
