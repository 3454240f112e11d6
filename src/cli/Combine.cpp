// vezorizer-cli combine: the file list built as Add builds it, then saved as Save
// saves the combination.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
#include "cli/OutputFile.h"
#include "cli/Subcommands.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "mc303/SyxFiles.h"
#include "roles/ProgressWindow.h"

namespace cli {
namespace {

constexpr const char* kNothingStored = "No data has been stored in the buffer yet.";

// What was written, and the list in the order written; empty until the file is whole.
struct Combined {
  std::string path;
  std::uint64_t bytes = 0;
  std::vector<std::string> listed;
};

int ReportCombine(int status, const Combined& combined, Console& console) {
  if (console.json) {
    JsonWriter(console.out)
        .Field("output", combined.path.empty() ? Json(nullptr) : Json(combined.path))
        .Field("bytes", combined.bytes)
        .Field("files", combined.listed)
        .Field("error", TextOrNull(console.FirstError()))
        .End();
  } else {
    // Standard output holds the combination itself; the list is then only told.
    for (const std::string& name : combined.listed) {
      if (combined.path == kStandardStream) console.Note(name);
      else console.out << name << '\n';
    }
  }
  return status;
}

// Said and true when no combination may be written to path from these names.
bool CombineRefused(const std::string& out, const std::string& path, const std::vector<std::string>& names,
                    Console& console) {
  if (OutputFile::Refuses(out, "-o", console)) return true;
  for (const std::string& name : names) {
    // A line break would split the name into other paths when the list is read back.
    if (name.find_first_of("\r\n") != std::string::npos) {
      console.Error(name, "cannot be listed: the name holds a line break");
      return true;
    }
    // Written over one of its inputs, the combination would replace the only copy of
    // that file with less than it held.
    if (SameFile(name, path)) {
      console.Error(path, "is the same file as the input " + InputName(name) + "; nothing written");
      return true;
    }
  }
  return false;
}

// The names added one by one as Add adds them, the list re-read after each: 0 with the
// names in list order, else the exit status of the refusal (said).
int AddLikeTheWindow(const std::vector<std::string>& names, const InputsByName& inputs, const std::string& path,
                     std::vector<std::string>& order, Console& console) {
  CliSession session;
  roles::NoProgressWindow splash;
  filelist::FileList list(session.flags, session.filesBox, session.parse, session.pump, session.dialogs, splash);
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
      return kExitDataProblem;
    }
    if (!list.ReloadFileList()) {
      console.Error(InputName(name), session.dialogs.last);
      // The list reads the bytes read above, so a failure is a refusal of what they
      // hold; only a stream over them that could not be made is an I/O problem.
      return list.LastFailure() == filelist::ReloadFailure::OpenFailed ? kExitUsageOrIo : kExitDataProblem;
    }
  }
  const mc303::OutfileLog& logState = session.parse.Log();
  if (logState.RestartPending || logState.ByteCount < 1) {
    console.Error(OutputName(path), kNothingStored);
    return kExitDataProblem;
  }
  const std::string& text = session.filesBox.Text();
  for (const filelist::ListLine& line : filelist::CompleteLines(text)) {
    order.emplace_back(text, line.start, line.contentEnd - line.start);
  }
  return kExitOk;
}

// What Save writes is the log: every listed file's bytes in list order, less 0xFE and
// 0xF8. Taken from the inputs as it goes out, it is never held whole a second time.
bool WriteCombination(const std::vector<std::string>& order, const InputsByName& inputs, OutputFile& output) {
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
  return ok && output.Write(chunk.data(), chunk.size()) && output.Commit();
}

}  // namespace

int RunCombine(const std::string& out, const std::vector<std::string>& names, Console& console) {
  Combined combined;
  const std::string path = out == kStandardStream ? out : mc303::OverallFileName(out);
  if (CombineRefused(out, path, names, console)) return ReportCombine(kExitUsageOrIo, combined, console);
  std::vector<InputFile> files;
  if (!LoadInputFiles(names, files, console)) return ReportCombine(kExitUsageOrIo, combined, console);
  // Each input is read once; the list's reloads read the bytes kept here (a MIDI file's
  // SysEx).
  const InputsByName inputs(files);
  std::vector<std::string> order;
  if (const int status = AddLikeTheWindow(names, inputs, path, order, console); status != kExitOk) {
    return ReportCombine(status, combined, console);
  }
  OutputFile output(console);
  if (!output.Open(path) || !WriteCombination(order, inputs, output)) {
    return ReportCombine(kExitUsageOrIo, combined, console);
  }
  combined = {path, output.Size(), std::move(order)};
  return ReportCombine(kExitOk, combined, console);
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
