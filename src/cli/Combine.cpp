// vezorizer-cli combine: the file list built as Add builds it, then saved as Save
// saves the combination.
#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/Subcommands.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "mc303/SyxFiles.h"
#include "ui/ProgressWindow.h"

namespace cli {

int RunCombine(const std::string& out, const std::vector<std::string>& names, std::ostream& results) {
  for (const std::string& name : names) {
    // A line break would split the name into other paths when the list is read back.
    if (name.find_first_of("\r\n") != std::string::npos) {
      std::cerr << name << ": cannot be listed: the name holds a line break\n";
      return kExitUsageOrIo;
    }
  }
  std::vector<InputFile> files;
  if (!LoadInputFiles(names, files)) return kExitUsageOrIo;

  CliSession session;
  ui::NoProgressWindow splash;
  filelist::FileList list(session.flags, session.tFiles, session.parse, session.pump, session.dialogs, splash, {},
                          filelist::MissingFile::Fail);
  // The list reads what was read above: a MIDI file's SysEx rather than the file itself.
  list.SetHeldBytes([&files](const std::string& path) -> const std::vector<std::uint8_t>* {
    const auto it = std::find_if(files.begin(), files.end(), [&](const InputFile& f) { return f.name == path; });
    return it == files.end() ? nullptr : &it->bytes;
  });
  for (const std::string& name : names) {
    const std::string line = name + "\r\n";
    const bool listed = list.HasRoomFor(line);
    list.AddFileLine(line);  // says why when it cannot list the name
    if (!listed) return kExitDataProblem;
    if (!list.ReloadFileList()) {
      // Every file was readable a moment ago; one that cannot be opened now is an I/O
      // problem, anything else a refusal of its contents.
      const filelist::ReloadFailure why = list.LastFailure();
      return why == filelist::ReloadFailure::OpenFailed || why == filelist::ReloadFailure::ReadFailed ? kExitUsageOrIo
                                                                                                      : kExitDataProblem;
    }
  }

  const mc303::OutfileLog& logState = session.parse.Log();
  if (logState.RestartPending || logState.ByteCount < 1) {
    static_cast<ui::Dialogs&>(session.dialogs).MessageBox("No data has been stored in the buffer yet.");
    return kExitDataProblem;
  }
  const std::string path = mc303::OverallFileName(out);
  if (auto error = mc303::ReplaceFile(path, session.log.Bytes())) {
    std::cerr << path << ": cannot write: " << *error << '\n';
    return kExitUsageOrIo;
  }
  const std::string& text = session.tFiles.Text();
  for (const filelist::ListLine& line : filelist::CompleteLines(text)) {
    results << std::string_view(text).substr(line.start, line.contentEnd - line.start) << '\n';
  }
  return kExitOk;
}

void AddCombineCommand(CLI::App& app, int& status) {
  struct Options {
    std::string out;
    std::vector<std::string> files;
  };
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand("combine", "Combine FILEs into one as the file list would");
  sub->add_option("-o", options->out, "The combined file (.SYX is appended unless the name ends in .SYX or .syx)")
      ->required();
  sub->add_option("FILE", options->files, ".SYX files or Standard MIDI Files (their SysEx), added in the order given")
      ->required();
  sub->callback([options, &status] { status = RunCombine(options->out, options->files); });
}

}  // namespace cli
