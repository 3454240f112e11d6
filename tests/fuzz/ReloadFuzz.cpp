// Fuzz target: the file-list reload over arbitrary file contents and Files box texts.
//
// Input: one byte giving how many files get contents (0-4), one byte of options, the
// event-pump call (1-255) at which a handler quits or aborts when an option asks for
// it, then for each such file a 16-bit length and its bytes; the rest is the Files box
// text. Every line of that text is turned into a path inside this process's temporary
// folder (a "/" or NUL in a line becomes "_"), so the reload never reaches any other
// place; the i-th distinct name gets the i-th contents, other names name no file. The
// folder is new for each input.
//
// Checked: the reload's result, its failure, its messages and the store, Pieces box
// and output log it leaves equal a reading of the same files done here with a fresh
// parser (the lines split here, missing names read as empty, the bytes fed file by
// file up to the point where the reload stopped); the log holds the bytes read less
// 0xFE and 0xF8; no file appears but the seeded ones and the listed names the reload
// reached; the progress window is hidden again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "ScratchFolder.h"
#include "fakes/CountingPump.h"
#include "fakes/ScriptedDialogs.h"
#include "filelist/FileList.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SysexParser.h"
#include "ui/EventPump.h"
#include "ui/TextBox.h"

namespace fs = std::filesystem;

namespace {

enum Option : std::uint8_t { kQuitFromPump = 1, kAbortFromPump = 2 };

class CountingSplash final : public ui::ProgressWindow {
 public:
  void SetCaption(const std::string& text) override { caption = text; }
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
  std::string caption;
  bool shown = false;
};

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

struct Line {
  std::string content;
  std::string run;  // its line-break run; empty for a final line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    Line l;
    while (i < text.size() && !IsBreak(text[i])) l.content += text[i++];
    while (i < text.size() && IsBreak(text[i])) l.run += text[i++];
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string NameOf(const std::string& content) {
  std::string name = content;
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  return name;
}

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// What the reload should leave, worked out here.
struct Outcome {
  bool result = true;
  filelist::ReloadFailure failure = filelist::ReloadFailure::None;
  std::string failedPath;
  std::set<std::string> opened;  // names the reload opened, so created when missing
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // The files live in root/box, so that anything made beside box shows.
  const ScratchFolder root("vz-fuzz-reload");
  const fs::path box = root.Path() / "box";
  fs::create_directory(box);

  const std::size_t fileCount = data[0] % 5;
  const std::uint8_t options = data[1];
  const long stopAtPump = data[2];
  const bool quitMode = (options & kQuitFromPump) != 0;
  const bool abortMode = !quitMode && (options & kAbortFromPump) != 0;
  std::size_t at = 3;
  std::vector<std::vector<std::uint8_t>> contents;
  for (std::size_t i = 0; i < fileCount && at + 2 <= size; ++i) {
    const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;
    contents.emplace_back(data + at, data + at + length);
    at += length;
  }

  // The Files box text: each line's content becomes a path in the box folder.
  const std::string pattern(reinterpret_cast<const char*>(data + at), size - at);
  const std::string prefix = box.string() + "/";
  std::string listText;
  std::map<std::string, std::vector<std::uint8_t>> seeded;
  for (const Line& l : SplitLines(pattern)) {
    if (l.content.empty()) {
      listText += l.run;
      continue;
    }
    const std::string name = NameOf(l.content);
    listText += prefix + name + l.run;
    if (!l.run.empty() && seeded.size() < contents.size() && !seeded.count(name) && name != "." && name != ".." &&
        name.size() <= 255) {
      std::vector<std::uint8_t> bytes = contents[seeded.size()];
      if (WriteFile(box / name, bytes)) seeded.emplace(name, std::move(bytes));
    }
  }

  mc303::SharedFlags flags;
  ui::TextBox tFiles(8192);
  ui::TextBox tPieces(16384);
  ui::TextBox tDev(1024);
  CountingPump pump;
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  CountingSplash splash;
  mc303::MC303Parse parse(flags, tPieces, tDev, pump, dialogs, log);
  filelist::FileList list(flags, tFiles, parse, pump, dialogs, splash);
  bool stopped = false;
  pump.onPump = [&] {
    if (pump.calls != stopAtPump) return;
    if (quitMode) flags.QuitRequested = stopped = true;
    if (abortMode) flags.AbortRequested = stopped = true;
  };
  tFiles.SetText(listText);

  const bool result = list.ReloadFileList();
  const std::uint64_t fed = parse.BytesFed();

  // The same files read here: the complete lines of the box, in order, each missing
  // name an empty file, fed to a fresh parser until as many bytes as the reload took.
  mc303::SharedFlags refFlags;
  ui::TextBox refPieces(16384);
  ui::TextBox refDev(1024);
  ui::NoEventPump refPump;
  ScriptedDialogs refDialogs;
  mc303::MemoryLogFile refLog;
  mc303::MC303Parse ref(refFlags, refPieces, refDev, refPump, refDialogs, refLog);
  refFlags.RecordingActive = true;
  ref.ResetPieceStore();
  Outcome want;
  std::vector<std::uint8_t> read;  // every byte the reload should have read
  std::uint64_t left = fed;
  bool quit = false;
  for (const Line& l : SplitLines(tFiles.Text())) {
    if (l.run.empty() || l.content.empty()) continue;
    if (quit) break;
    const std::string name = l.content.substr(prefix.size());
    FUZZ_CHECK(l.content.compare(0, prefix.size(), prefix) == 0, "a listed path outside the box folder");
    if (name == "." || name == ".." || name.size() > 255) {
      want = {false, filelist::ReloadFailure::OpenFailed, l.content, want.opened};
      break;
    }
    want.opened.insert(name);
    const auto s = seeded.find(name);
    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t>& bytes = s == seeded.end() ? none : s->second;
    ref.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
    bool failed = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (left == 0) {
        quit = true;  // the reload stopped before this byte
        break;
      }
      --left;
      read.push_back(bytes[i]);
      if (!ref.ParseMidiByte(bytes[i], false)) {
        failed = true;
        break;
      }
    }
    if (stopped && left == 0) quit = true;  // stopped at the file's last byte read
    if (abortMode && stopped && quit) {
      want = {false, filelist::ReloadFailure::Aborted, {}, want.opened};
      break;
    }
    if (failed) {
      want = {false, filelist::ReloadFailure::DuplicateOrBadChecksum, {}, want.opened};
      break;
    }
  }
  if (!ref.Log().RestartPending) ref.CloseOutfile();

  FUZZ_CHECK(left == 0, "the reload read bytes that the listed files do not hold");
  FUZZ_CHECK(result == want.result, "wrong result of the reload");
  FUZZ_CHECK(list.LastFailure() == want.failure, "wrong failure of the reload");
  FUZZ_CHECK(!flags.RecordingActive && !splash.shown, "recording or the progress window left on");
  if (want.failure == filelist::ReloadFailure::OpenFailed) {
    FUZZ_CHECK(dialogs.messages.size() == 1 && dialogs.messages[0].text == "Error opening file " + want.failedPath,
               "an open failure not told");
  } else if (want.failure == filelist::ReloadFailure::DuplicateOrBadChecksum) {
    FUZZ_CHECK(dialogs.messages.size() == 1 && dialogs.messages[0].text == filelist::kDuplicatePiece &&
                   dialogs.messages[0].title == "Error",
               "a refused file not told");
  } else {
    FUZZ_CHECK(dialogs.messages.empty(), "a message without a failure");
  }

  const mc303::PieceStore& got = parse.Store();
  const mc303::PieceStore& exp = ref.Store();
  FUZZ_CHECK(got.PatternData == exp.PatternData && got.SettingsData == exp.SettingsData, "the pieces differ");
  FUZZ_CHECK(got.PatternPresent == exp.PatternPresent && got.SettingsPresent == exp.SettingsPresent,
             "the presence flags differ");
  FUZZ_CHECK(got.PendingBytes == exp.PendingBytes, "the pending bytes differ");
  FUZZ_CHECK(got.LastSlot == exp.LastSlot && got.LastKind == exp.LastKind, "the last piece begun differs");
  FUZZ_CHECK(tPieces.Text() == refPieces.Text(), "the Pieces box differs");

  std::vector<std::uint8_t> logged;
  for (std::uint8_t b : read) {
    if (b != 0xFE && b != 0xF8) logged.push_back(b);
  }
  FUZZ_CHECK(parse.Log().RestartPending == logged.empty(), "the log restarted without bytes, or not at all");
  if (!logged.empty()) {
    FUZZ_CHECK(!log.IsOpen(), "the output log left open");
    FUZZ_CHECK(log.Bytes() == logged, "the output log differs from the bytes read");
    FUZZ_CHECK(log.Bytes() == refLog.Bytes(), "the output log differs from the reading done here");
  }

  // Nothing but the seeded files and the names the reload opened.
  std::set<std::string> there;
  for (const auto& entry : fs::directory_iterator(box)) there.insert(entry.path().filename().string());
  std::set<std::string> allowed = want.opened;
  for (const auto& [name, bytes] : seeded) allowed.insert(name);
  FUZZ_CHECK(there == allowed, "a file created that the reload did not reach, or one missing");
  std::size_t rootEntries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root.Path())) ++rootEntries;
  FUZZ_CHECK(rootEntries == 1, "something created beside the box folder");
  return 0;
}
