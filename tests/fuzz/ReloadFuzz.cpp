// Fuzz target: the file-list reload over arbitrary file contents and Files box texts.
//
// Input: how many files get contents (0-4), two unused bytes, then each such file's
// 16-bit length and bytes; the rest is the Files box text, each line a path in a folder
// new for each input ("/" and NUL become "_"), the i-th distinct name the i-th file.
// Checked against the same files read here by a fresh parser up to the first refused
// one (a name without a file is refused): result, failure, message,
// store, Pieces box and log; the progress window hidden.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "fakes/ScriptedDialogs.h"
#include "filelist/FileList.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SysexIntake.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using filelist::ReloadFailure;

namespace {

struct Splash final : roles::ProgressWindow {
  void SetCaption(const std::string&) override {}
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
  bool shown = false;
};

struct Line {
  std::string content;
  std::string run;  // its line-break run; empty for a final line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
  for (std::size_t i = 0; i < text.size();) {
    Line l;
    while (i < text.size() && !isBreak(text[i])) l.content += text[i++];
    while (i < text.size() && isBreak(text[i])) l.run += text[i++];
    lines.push_back(std::move(l));
  }
  return lines;
}

// The parser with all it works on.
struct Core {
  mc303::SharedFlags flags;
  roles::TextBox piecesBox{16384}, reportBox{1024};
  roles::NoEventPump pump;
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};
};

bool Openable(const std::string& name) { return name != "." && name != ".." && name.size() <= 255; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // One folder per input: libFuzzer may end without exit handlers.
  std::string folder = (fs::temp_directory_path() / "vz-fuzz-reload-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(folder.data()) != nullptr, "no temporary folder");
  const fs::path box = folder;
  std::size_t at = 3;
  std::vector<Bytes> contents;
  for (std::size_t i = 0; i < data[0] % 5u && at + 2 <= size; ++i) {
    const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    contents.emplace_back(data + at + 2, data + at + 2 + length);
    at += 2 + length;
  }

  const std::string prefix = box.string() + "/";
  std::string listText;
  std::map<std::string, Bytes> seeded;
  for (const Line& l : SplitLines(std::string(reinterpret_cast<const char*>(data + at), size - at))) {
    std::string name = l.content;
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    listText += (name.empty() ? "" : prefix + name) + l.run;
    if (name.empty() || l.run.empty() || seeded.size() == contents.size() || seeded.count(name) || !Openable(name)) {
      continue;
    }
    const Bytes& bytes = contents[seeded.size()];
    std::ofstream out(box / name, std::ios::binary);
    if (out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())).flush()) {
      seeded.emplace(name, bytes);
    }
  }

  Core core, ref;
  roles::TextBox filesBox(8192);
  Splash splash;
  filelist::FileList list(core.flags, filesBox, core.parse, core.pump, core.dialogs, splash);
  filesBox.SetText(listText);
  const bool result = list.ReloadFileList();

  // The same files read here: the complete lines of the box, in order, fed to a fresh
  // parser up to the first refused one.
  ref.flags.RecordingActive = true;
  ref.parse.ResetPieceStore();
  ReloadFailure want = ReloadFailure::None;
  std::string failedPath;
  Bytes read;  // every byte the reload should have read
  for (const Line& l : SplitLines(filesBox.Text())) {
    if (l.run.empty() || l.content.empty()) continue;
    FUZZ_CHECK(l.content.compare(0, prefix.size(), prefix) == 0, "a listed path outside the box folder");
    const std::string name = l.content.substr(prefix.size());
    if (!Openable(name) || !seeded.count(name)) {
      want = ReloadFailure::OpenFailed;
      failedPath = l.content;
      break;
    }
    const Bytes& bytes = seeded.at(name);
    ref.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
    bool failed = false;
    for (std::size_t i = 0; i < bytes.size() && !failed; ++i) {
      read.push_back(bytes[i]);
      failed = !ref.parse.ParseMidiByte(bytes[i], false);
    }
    if (failed) {
      want = ReloadFailure::DuplicateOrBadChecksum;
      failedPath = l.content;
      break;
    }
  }
  if (!ref.parse.Log().RestartPending) ref.parse.CloseOutfile();

  FUZZ_CHECK(core.parse.BytesFed() == read.size(), "the reload read other bytes than the listed files hold");
  FUZZ_CHECK(result == (want == ReloadFailure::None) && list.LastFailure() == want, "wrong result of the reload");
  FUZZ_CHECK(!core.flags.RecordingActive && !splash.shown, "recording or the progress window left on");
  std::vector<std::string> told;
  if (want == ReloadFailure::OpenFailed) told = {"Error opening file " + failedPath};
  if (want == ReloadFailure::DuplicateOrBadChecksum) told = {filelist::kDuplicatePiece};
  if (ref.parse.LastOutcome() == mc303::MessageOutcome::BadChecksum) told = {filelist::BadChecksumMessage(failedPath)};
  FUZZ_CHECK(core.dialogs.Texts() == told, "a failure not told, or a message without one");

  const mc303::PieceStore& got = core.parse.Store();
  const mc303::PieceStore& exp = ref.parse.Store();
  FUZZ_CHECK(got.PatternData == exp.PatternData && got.SettingsData == exp.SettingsData &&
                 got.PatternPresent == exp.PatternPresent && got.SettingsPresent == exp.SettingsPresent &&
                 got.PendingBytes == exp.PendingBytes && got.LastSlot == exp.LastSlot && got.LastKind == exp.LastKind,
             "the store differs from the reading done here");
  FUZZ_CHECK(core.piecesBox.Text() == ref.piecesBox.Text(), "the Pieces box differs");

  Bytes logged = read;
  std::erase_if(logged, [](std::uint8_t b) { return b == 0xFE || b == 0xF8; });
  FUZZ_CHECK(core.parse.Log().RestartPending == logged.empty(), "the log restarted without bytes, or not at all");
  FUZZ_CHECK(logged.empty() || (!core.log.IsOpen() && core.log.Bytes() == logged && logged == ref.log.Bytes()),
             "the output log left open, or differs from the bytes read or the reading done here");
  fs::remove_all(box);
  return 0;
}
