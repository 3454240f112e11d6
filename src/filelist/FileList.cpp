#include "filelist/FileList.h"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

#include "filelist/ListText.h"
#include "roles/FlagScope.h"

namespace filelist {

std::string BadChecksumMessage(std::string_view path) {
  return "The checksum of a message in the file " + std::string(path) +
         " is bad: the file is damaged and cannot be loaded.";
}

FileList::FileList(mc303::SharedFlags& flags, roles::TextBox& tFiles, mc303::SysexIntake& parse, roles::EventPump& pump,
                   roles::Dialogs& dialogs, roles::ProgressWindow& fSplash, std::function<void(bool)> setAddEnabled)
    : flags_(flags),
      tFiles_(tFiles),
      parse_(parse),
      pump_(pump),
      dialogs_(dialogs),
      fSplash_(fSplash),
      setAddEnabled_(std::move(setAddEnabled)) {}

void FileList::AddClicked() {
  // The button is disabled while an add runs, but a click queued before that, or one
  // made while a removal reloads, still arrives through the event pumping.
  if (adding_ || reloading_) return;
  if (RefuseChange()) return;
  roles::FlagScope adding(adding_);
  struct ButtonBack {
    FileList& list;
    ~ButtonBack() {
      if (list.setAddEnabled_) list.setAddEnabled_(true);
    }
  } buttonBack{*this};
  if (setAddEnabled_) setAddEnabled_(false);

  const std::optional<std::string> path = dialogs_.OpenFileDialog(kAddDialogTitle, roles::kSyxFilter);
  if (!path) return;
  (void)AddFile(*path);
}

AddOutcome FileList::AddFile(const std::string& path) {
  if (RefuseLineBreak(path)) return AddOutcome::BadName;
  const std::string previous = tFiles_.Text();
  const std::string line = path + "\r\n";
  const bool listed = HasRoomFor(line);
  AddFileLine(line);
  if (ReloadOrPutBack(previous)) return listed ? AddOutcome::Added : AddOutcome::TooManyFiles;
  return listed ? AddOutcome::Refused : AddOutcome::TooManyFiles;
}

bool FileList::ReloadOrPutBack(const std::string& previous) {
  if (ReloadFileList()) return true;
  if (tFiles_.Text() != previous) {
    tFiles_.SetText(previous);
    if (ReloadFileList()) return false;
  }
  // The names the user chose are not thrown away for one that cannot be read now;
  // removing that one loads the rest.
  parse_.ResetPieceStore();
  return false;
}

bool FileList::HasRoomFor(std::string_view line) const {
  const int maxLength = tFiles_.MaxLength();
  return maxLength <= 0 || static_cast<std::int64_t>(tFiles_.Length()) + roles::CharCount(line) <= maxLength;
}

void FileList::AddFileLine(const std::string& line) {
  const std::string_view path = std::string_view(line).substr(0, line.find_last_not_of("\r\n") + 1);
  if (RefuseLineBreak(path)) return;
  if (!HasRoomFor(line)) {
    dialogs_.MessageBox(kTooManyFiles);
    return;
  }
  tFiles_.Append(line);
  // One pump serves the whole sort: the box holds at most 8192 characters, which sort
  // in far less time than the window may go without processing its events. The text
  // is read after the pump, so whatever a handler did to it there is sorted too.
  pump_.PumpEvents();
  std::string sorted = SortListText(tFiles_.Text());
  if (sorted != tFiles_.Text()) tFiles_.SetText(std::move(sorted));
  tFiles_.SetCaretToEnd();
  // The caret at the end shows the end of the list; the new line may have sorted into
  // its middle, and the user is to see where it went.
  const std::string& text = tFiles_.Text();
  for (const ListLine& l : CompleteLines(text)) {
    if (std::string_view(text).substr(l.start, l.contentEnd - l.start) == path) {
      tFiles_.ScrollIntoView(roles::CharCount(std::string_view(text).substr(0, l.start)));
      break;
    }
  }
}

bool FileList::RefuseChange() { return refuseChange_ && refuseChange_(); }

bool FileList::RefuseLineBreak(std::string_view path) {
  if (path.find_first_of("\r\n") == std::string_view::npos) return false;
  dialogs_.MessageBox(std::string(path) + kLineBreakInName);
  return true;
}

bool FileList::ReloadFileList() {
  roles::FlagScope reloading(reloading_);
  lastFailure_ = ReloadFailure::None;
  parse_.ResetPieceStore();
  flags_.RecordingActive = true;

  // Handlers run while the files are read may change the box; the reload goes on with
  // the list it started with.
  const std::string list = tFiles_.Text();
  for (const ListLine& line : CompleteLines(list)) {
    // After a quit the remaining files are not read; opening them would only show
    // messages while the program ends.
    if (flags_.QuitRequested) break;
    const std::string path = list.substr(line.start, line.contentEnd - line.start);
    if (path.empty()) continue;
    if (ReadListedFile(path) == FileResult::Failed) return EndReload(false);
  }
  return EndReload(true);
}

FileList::FileResult FileList::ReadListedFile(const std::string& path) {
  FilePtr file = open_ ? open_(path) : OpenListedFile(path);
  if (!file) {
    dialogs_.MessageBox(kErrorOpeningFile + path);
    lastFailure_ = ReloadFailure::OpenFailed;
    return FileResult::Failed;
  }

  flags_.AbortRequested = false;
  // Up from the first file to the end of the reload: shown and hidden for each file, a
  // list of small files would flash it too briefly to be drawn.
  if (!splashShown_) {
    splashShown_ = true;
    fSplash_.SetCaption(kLoadingCaption);
    fSplash_.Show();
  }
  // The first message of a file never continues a piece of the file before it.
  parse_.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);

  bool failed = false;
  std::array<std::uint8_t, 4096> chunk;
  std::size_t have = 0;
  std::size_t next = 0;
  while (!flags_.QuitRequested && !flags_.AbortRequested) {
    if (next == have) {
      have = std::fread(chunk.data(), 1, chunk.size(), file.get());
      next = 0;
      if (have == 0) {
        // A read error fails the file as an open failure does: taken for the file's
        // end, it would leave the combination (and the overall file saved from it)
        // short of the rest without a word.
        if (std::ferror(file.get()) != 0) {
          dialogs_.MessageBox(kErrorReadingFile + path);
          lastFailure_ = ReloadFailure::ReadFailed;
          failed = true;
        }
        break;
      }
    }
    pump_.PumpEvents();
    if (!parse_.ParseMidiByte(chunk[next++], false)) {
      const bool damaged = parse_.LastOutcome() == mc303::MessageOutcome::BadChecksum;
      dialogs_.MessageBox(damaged ? BadChecksumMessage(path) : std::string(kDuplicatePiece), roles::Buttons::Ok,
                          kDuplicateTitle, roles::Icon::Exclamation);
      lastFailure_ = ReloadFailure::DuplicateOrBadChecksum;
      failed = true;
      break;
    }
  }
  file.reset();
  if (flags_.AbortRequested) {
    failed = true;
    lastFailure_ = ReloadFailure::Aborted;
  }
  if (failed) return FileResult::Failed;
  return flags_.QuitRequested ? FileResult::Quit : FileResult::Read;
}

bool FileList::EndReload(bool result) {
  if (splashShown_) fSplash_.Hide();
  splashShown_ = false;
  if (!parse_.Log().RestartPending) parse_.CloseOutfile();
  flags_.RecordingActive = false;
  return result;
}

void FileList::FilesKeyDown(int keyCode) {
  if (keyCode == kBackspace || keyCode == kDeleteKey || keyCode == kDeleteChar) RemoveMarkedLines();
}

void FileList::FilesKeyPress(int charCode) {
  if (charCode == kBackspace || charCode == kDeleteChar) RemoveMarkedLines();
}

void FileList::RemoveMarkedLines() {
  // A key pressed while a reload reads is not acted on: a reload started from inside
  // it would rebuild the store, and the outer one would then read its remaining files
  // on top of that.
  if (reloading_ || adding_) return;
  if (RefuseChange()) return;
  const std::string previous = tFiles_.Text();
  tFiles_.SetText(WithoutMarkedLines(previous, tFiles_.SelStart(), tFiles_.SelLength()));
  (void)ReloadOrPutBack(previous);
}

}  // namespace filelist
