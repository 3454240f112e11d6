// convert: SysEx between raw .syx files and Standard MIDI Files, in whichever
// direction the input's contents and the output's name ask for.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/OutputFile.h"
#include "cli/Subcommands.h"
#include "platform/Platform.h"
#include "smf/StandardMidiFile.h"

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

int RunConvert(const std::string& in, const std::string& out, const smf::SmfWriteOptions& smf, Console& console) {
  std::uint64_t written = 0;
  const auto finish = [&](int status) {
    if (console.json) {
      console.out << "{\n  \"output\": " << (status == kExitOk ? JsonText(out) : "null")
                  << ",\n  \"bytes\": " << written << ",\n  \"error\": "
                  << (console.JsonError()) << "\n}\n";
    } else if (status == kExitOk && out != kStandardStream && !platform::IsStandardOutput(out)) {
      console.out << out << '\n';
    }
    return status;
  };
  if (OutputFile::Refuses(out, "OUT", console)) return finish(kExitUsageOrIo);
  // The output takes the target's place, so converting a file onto itself would
  // replace the only copy of the input.
  if (SameFile(in, out)) {
    console.Error(out, "is the same file as " + InputName(in) + "; nothing written");
    return finish(kExitUsageOrIo);
  }
  smf::ByteString input;
  // The file itself, a MIDI file too: it is what is converted.
  if (auto error = ReadInputFile(in, input, InputReader::Midi::Raw)) {
    console.Error(InputName(in), *error);
    return finish(kExitUsageOrIo);
  }

  const std::string inName = InputName(in);
  const bool fromMidi = smf::IsStandardMidiFile(input);
  // Standard output has no name to ask: the input is turned into the other kind.
  const bool toMidi = out == kStandardStream ? !fromMidi : HasMidiExtension(out);
  if (fromMidi == toMidi) {
    console.Error(inName, fromMidi ? "is a Standard MIDI File already; name OUT with .syx to take its SysEx out"
                                   : "not a Standard MIDI File (it does not begin with \"MThd\"); "
                                     "to make one from it, name OUT with .mid or .midi");
    return finish(kExitUsageOrIo);
  }
  if (!fromMidi && input.empty()) {
    console.Error(inName, "is empty; nothing written");
    return finish(kExitDataProblem);
  }
  smf::ByteString sysex;
  if (fromMidi) {
    smf::SmfReadResult read = smf::ReadSysexFromSmf(std::move(input));
    if (read.error) {
      console.Error(inName, smf::SmfErrorText(*read.error) + "; nothing written");
      return finish(kExitUsageOrIo);
    }
    if (read.sysex.bytes.empty()) {
      console.Error(inName, "holds no SysEx events; nothing written");
      return finish(kExitDataProblem);
    }
    sysex = std::move(read.sysex.bytes);
    input = {};
  }

  OutputFile file(console);
  if (!file.Open(out)) return finish(kExitUsageOrIo);
  if (fromMidi) {
    if (!file.Write(sysex.data(), sysex.size())) return finish(kExitUsageOrIo);
  } else {
    const smf::SmfWriteResult made = smf::StreamSysexAsSmf(
        input, smf, [&file](const std::uint8_t* bytes, std::size_t n) { return file.Write(bytes, n); });
    if (made.leftOutBytes > 0) {
      console.Warning(inName, "left out " + std::to_string(made.leftOutBytes) +
                                  " bytes that are not SysEx data (active sensing, clock, stray bytes); "
                                  "--keep-stray keeps them");
    }
    if (made.error) {
      console.Error(inName, *made.error + "; nothing written");
      return finish(kExitDataProblem);
    }
    if (made.writeFailed) return finish(kExitUsageOrIo);  // said by the file
  }
  if (!file.Commit()) return finish(kExitUsageOrIo);
  written = file.Size();
  return finish(kExitOk);
}

void AddConvertCommand(CLI::App& app, int& status, Console& console) {
  struct Options {
    std::string in;
    std::string out;
    smf::SmfWriteOptions smf;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("convert", "Convert between .syx and Standard MIDI Files");
  sub->add_option("--interval", options->smf.intervalMs, "Milliseconds between messages in a written .mid")
      ->check(CLI::Range(0, smf::kSmfMaxIntervalMs))
      ->capture_default_str();
  sub->add_flag("--keep-stray", options->smf.keepStray,
                "Keep the bytes outside SysEx messages (active sensing, clock, stray bytes) in a written .mid, "
                "for a byte-exact round trip; some MIDI file readers refuse such files");
  AddCommonFlags(*sub, console, true);
  sub->add_option("IN", options->in, "A Standard MIDI File, or raw SysEx bytes; - for standard input")->required();
  sub->add_option("OUT", options->out,
                  "Raw SysEx (.syx) from a .mid; a .mid/.midi from raw SysEx; - for standard output (the other kind)")
      ->required();
  sub->callback([options, &status, &console] { status = RunConvert(options->in, options->out, options->smf, console); });
}

}  // namespace cli
