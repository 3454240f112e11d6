// vezorizer-cli combine: the file list built as Add builds it, then saved as Save
// saves the combination.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/OutputFile.h"
#include "cli/Subcommands.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "mc303/SyxFiles.h"
#include "roles/ProgressWindow.h"

namespace cli {
namespace {

constexpr const char* kNothingStored = "No data has been stored in the buffer yet.";

}  // namespace

int RunCombine(const std::string& out, const std::vector<std::string>& names, Console& console) {
  std::vector<std::string> listed;
  std::string written;
  std::uint64_t writtenBytes = 0;
  const auto finish = [&](int status) {
    if (console.json) {
      std::string text = "{\n  \"output\": ";
      text += written.empty() ? "null" : JsonText(written);
      text += ",\n  \"bytes\": " + std::to_string(writtenBytes) + ",\n  \"files\": [";
      for (std::size_t i = 0; i < listed.size(); ++i) (text += i == 0 ? "\n    " : ",\n    ") += JsonText(listed[i]);
      text += listed.empty() ? "],\n  \"error\": " : "\n  ],\n  \"error\": ";
      text += console.JsonError();
      console.out << text << "\n}\n";
    } else if (!written.empty()) {
      // Standard output holds the combination itself; the list is then only told.
      for (const std::string& name : listed) {
        if (written == kStandardStream) console.Note(name);
        else console.out << name << '\n';
      }
    }
    return status;
  };

  if (OutputFile::Refuses(out, "-o", console)) return finish(kExitUsageOrIo);
  const std::string path = out == kStandardStream ? out : mc303::OverallFileName(out);
  for (const std::string& name : names) {
    // A line break would split the name into other paths when the list is read back.
    if (name.find_first_of("\r\n") != std::string::npos) {
      console.Error(name, "cannot be listed: the name holds a line break");
      return finish(kExitUsageOrIo);
    }
    // Written over one of its inputs, the combination would replace the only copy of
    // that file with less than it held.
    if (SameFile(name, path)) {
      console.Error(path, "is the same file as the input " + InputName(name) + "; nothing written");
      return finish(kExitUsageOrIo);
    }
  }
  std::vector<InputFile> files;
  if (!LoadInputFiles(names, files, console)) return finish(kExitUsageOrIo);
  // Each input is read once; the list's reloads read the bytes kept here (a MIDI file's
  // SysEx).
  const InputsByName inputs(files);

  CliSession session;
  roles::NoProgressWindow splash;
  filelist::FileList list(session.flags, session.tFiles, session.parse, session.pump, session.dialogs, splash);
  // Only whether a piece is there tells a duplicate; its bytes are never saved here.
  PieceTally tally;
  session.parse.SetMessageObserver([&](const mc303::MessageReport& r) { tally.Take(session.parse.Store(), r); });
  list.SetOpener([&inputs](const std::string& name) { return inputs.Open(name); });
  for (const std::string& name : names) {
    const std::string line = name + "\r\n";
    const bool hasRoom = list.HasRoomFor(line);
    list.AddFileLine(line);  // says why, in the window's words, when it cannot list the name
    if (!hasRoom) {
      console.Error(InputName(name), session.dialogs.last);
      return finish(kExitDataProblem);
    }
    if (!list.ReloadFileList()) {
      console.Error(InputName(name), session.dialogs.last);
      // The list reads the bytes read above, so a failure is a refusal of what they
      // hold; only a stream over them that could not be made is an I/O problem.
      return finish(list.LastFailure() == filelist::ReloadFailure::OpenFailed ? kExitUsageOrIo : kExitDataProblem);
    }
  }
  const mc303::OutfileLog& logState = session.parse.Log();
  if (logState.RestartPending || logState.ByteCount < 1) {
    console.Error(OutputName(path), kNothingStored);
    return finish(kExitDataProblem);
  }

  // What Save writes is the log: every listed file's bytes in list order, less 0xFE and
  // 0xF8. Taken from the inputs as it goes out, it is never held whole a second time.
  const std::string& text = session.tFiles.Text();
  std::vector<std::string> order;
  for (const filelist::ListLine& line : filelist::CompleteLines(text)) {
    order.emplace_back(text, line.start, line.contentEnd - line.start);
  }
  OutputFile output(console);
  if (!output.Open(path)) return finish(kExitUsageOrIo);
  std::vector<std::uint8_t> chunk;
  chunk.reserve(256 * 1024);
  bool ok = true;
  const auto dropped = [](std::uint8_t b) { return b == 0xFE || b == 0xF8; };
  for (const std::string& name : order) {
    const std::vector<std::uint8_t>* bytes = inputs.Bytes(name);
    if (bytes == nullptr) continue;
    for (auto run = bytes->begin(); run != bytes->end();) {
      const auto runEnd = std::find_if(run, bytes->end(), dropped);
      while (run != runEnd) {
        const auto take = std::min<std::ptrdiff_t>(runEnd - run, static_cast<std::ptrdiff_t>(chunk.capacity() - chunk.size()));
        chunk.insert(chunk.end(), run, run + take);
        run += take;
        if (chunk.size() == chunk.capacity()) {
          ok = ok && output.Write(chunk.data(), chunk.size());
          chunk.clear();
        }
      }
      if (run != bytes->end()) ++run;  // the 0xFE or 0xF8 itself
    }
  }
  ok = ok && output.Write(chunk.data(), chunk.size()) && output.Commit();
  if (!ok) return finish(kExitUsageOrIo);
  written = path;
  writtenBytes = output.Size();
  listed = std::move(order);
  return finish(kExitOk);
}

void AddCombineCommand(CLI::App& app, int& status, Console& console) {
  struct Options {
    std::string out;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("combine", "Combine FILEs into one as the file list would");
  sub->add_option("-o,--output", options->out,
                  "The combined file (.SYX is appended unless the name ends in .SYX or .syx); - for standard output")
      ->required();
  AddCommonFlags(*sub, console, true);
  sub->add_option("FILE", options->files,
                  ".SYX files or Standard MIDI Files (their SysEx), added in the order given; - for standard input")
      ->required();
  sub->callback([options, &status, &console] { status = RunCombine(options->out, options->files, console); });
}

}  // namespace cli
