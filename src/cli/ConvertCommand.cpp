// convert: SysEx between raw .syx files and Standard MIDI Files, in whichever
// direction the input's contents and the output's name ask for.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
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

int ReportConvert(int status, const std::string& out, std::uint64_t written, Console& console) {
  if (console.json) {
    JsonWriter(console.out)
        .Field("output", status == kExitOk ? Json(out) : Json(nullptr))
        .Field("bytes", written)
        .Field("error", TextOrNull(console.FirstError()))
        .End();
  } else if (status == kExitOk && out != kStandardStream && !platform::IsStandardOutput(out)) {
    console.out << out << '\n';
  }
  return status;
}

// The input, and which way it goes; the exit status of a refusal (said) otherwise.
struct ConvertInput {
  int status = kExitOk;
  smf::ByteString bytes;
  bool fromMidi = false;
};

ConvertInput ReadForConvert(const std::string& in, const std::string& out, Console& console) {
  if (OutputFile::Refuses(out, "OUT", console)) return {kExitUsageOrIo, {}, false};
  // The output takes the target's place, so converting a file onto itself would
  // replace the only copy of the input.
  if (SameFile(in, out)) {
    console.Error(out, "is the same file as " + InputName(in) + "; nothing written");
    return {kExitUsageOrIo, {}, false};
  }
  ConvertInput input;
  // The file itself, a MIDI file too: it is what is converted.
  if (auto error = ReadInputFile(in, input.bytes, InputReader::Midi::Raw)) {
    console.Error(InputName(in), *error);
    return {kExitUsageOrIo, {}, false};
  }
  input.fromMidi = smf::IsStandardMidiFile(input.bytes);
  // Standard output has no name to ask: the input is turned into the other kind.
  const bool toMidi = out == kStandardStream ? !input.fromMidi : HasMidiExtension(out);
  if (input.fromMidi == toMidi) {
    console.Error(InputName(in), input.fromMidi
                                     ? "is a Standard MIDI File already; name OUT with .syx to take its SysEx out"
                                     : "not a Standard MIDI File (it does not begin with \"MThd\"); "
                                       "to make one from it, name OUT with .mid or .midi");
    return {kExitUsageOrIo, {}, false};
  }
  if (!input.fromMidi && input.bytes.empty()) {
    console.Error(InputName(in), "is empty; nothing written");
    return {kExitDataProblem, {}, false};
  }
  return input;
}

// A MIDI file's SysEx in place of the file's own bytes: kExitOk, or the status of a
// refusal (said).
int TakeSysex(ConvertInput& input, const std::string& inName, Console& console) {
  smf::SmfReadResult read = smf::ReadSysexFromSmf(std::move(input.bytes));
  input.bytes = {};
  if (read.error) {
    console.Error(inName, smf::SmfErrorText(*read.error) + "; nothing written");
    return kExitUsageOrIo;
  }
  if (read.sysex.bytes.empty()) {
    console.Error(inName, "holds no SysEx events; nothing written");
    return kExitDataProblem;
  }
  input.bytes = std::move(read.sysex.bytes);
  return kExitOk;
}

int WriteConverted(const ConvertInput& input, const std::string& inName, const std::string& out,
                   const smf::SmfWriteOptions& smf, OutputFile& file, Console& console) {
  if (!file.Open(out)) return kExitUsageOrIo;
  if (input.fromMidi) {
    if (!file.Write(input.bytes.data(), input.bytes.size())) return kExitUsageOrIo;
  } else {
    const smf::SmfWriteResult made = smf::StreamSysexAsSmf(
        input.bytes, smf, [&file](const std::uint8_t* bytes, std::size_t n) { return file.Write(bytes, n); });
    if (made.leftOutBytes > 0) {
      console.Warning(inName, "left out " + std::to_string(made.leftOutBytes) +
                                  " bytes that are not SysEx data (active sensing, clock, stray bytes); "
                                  "--keep-stray keeps them");
    }
    if (made.error) {
      console.Error(inName, *made.error + "; nothing written");
      return kExitDataProblem;
    }
    if (made.writeFailed) return kExitUsageOrIo;  // said by the file
  }
  return file.Commit() ? kExitOk : kExitUsageOrIo;
}

}  // namespace

int RunConvert(const std::string& in, const std::string& out, const smf::SmfWriteOptions& smf, Console& console) {
  ConvertInput input = ReadForConvert(in, out, console);
  if (input.status == kExitOk && input.fromMidi) input.status = TakeSysex(input, InputName(in), console);
  std::uint64_t written = 0;
  if (input.status == kExitOk) {
    OutputFile file(console);
    input.status = WriteConverted(input, InputName(in), out, smf, file, console);
    if (input.status == kExitOk) written = file.Size();
  }
  return ReportConvert(input.status, out, written, console);
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
