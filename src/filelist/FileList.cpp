#include "filelist/FileList.h"

#include <optional>
#include <utility>
#include <vector>

#include "filelist/ListText.h"
#include "roles/FlagScope.h"

namespace filelist {

std::string BadChecksumMessage(std::string_view path) {
  return "The checksum of a message in the file " + std::string(path) +
         " is bad: the file is damaged and cannot be loaded.";
}

std::string DamagedMidiMessage(std::string_view path, std::string_view reason) {
  return "The MIDI file " + std::string(path) + " is damaged and cannot be loaded: " + std::string(reason) + ".";
}

FileList::FileList(mc303::SharedFlags& flags, roles::TextBox& filesBox, mc303::SysexIntake& parse, roles::EventPump& pump,
                   roles::Dialogs& dialogs, roles::ProgressWindow& progress, std::function<void(bool)> setAddEnabled)
    : flags_(flags),
      filesBox_(filesBox),
      parse_(parse),
      pump_(pump),
      dialogs_(dialogs),
      progress_(progress),
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

  const std::optional<std::string> path = dialogs_.OpenFileDialog(kAddDialogTitle, roles::kAddFilter);
  if (!path) return;
  (void)AddFile(*path);
}

AddOutcome FileList::AddFile(const std::string& path) {
  if (RefuseLineBreak(path)) return AddOutcome::BadName;
  const std::string previous = filesBox_.Text();
  const std::string line = path + "\r\n";
  const bool listed = HasRoomFor(line);
  AddFileLine(line);
  if (ReloadOrPutBack(previous)) return listed ? AddOutcome::Added : AddOutcome::TooManyFiles;
  return listed ? AddOutcome::Refused : AddOutcome::TooManyFiles;
}

bool FileList::ReloadOrPutBack(const std::string& previous) {
  if (ReloadFileList()) return true;
  if (filesBox_.Text() != previous) {
    filesBox_.SetText(previous);
    if (ReloadFileList()) return false;
  }
  // The names the user chose are not thrown away for one that cannot be read now;
  // removing that one loads the rest.
  parse_.ResetPieceStore();
  return false;
}

bool FileList::HasRoomFor(std::string_view line) const {
  const int maxLength = filesBox_.MaxLength();
  return maxLength <= 0 || static_cast<std::int64_t>(filesBox_.Length()) + roles::CharCount(line) <= maxLength;
}

void FileList::AddFileLine(const std::string& line) {
  const std::string_view path = std::string_view(line).substr(0, line.find_last_not_of("\r\n") + 1);
  if (RefuseLineBreak(path)) return;
  if (!HasRoomFor(line)) {
    dialogs_.MessageBox(kTooManyFiles);
    return;
  }
  filesBox_.Append(line);
  // One pump serves the whole sort: the box holds at most 8192 characters, which sort
  // in far less time than the window may go without processing its events. The text
  // is read after the pump, so whatever a handler did to it there is sorted too.
  pump_.PumpEvents();
  std::string sorted = SortListText(filesBox_.Text());
  if (sorted != filesBox_.Text()) filesBox_.SetText(std::move(sorted));
  filesBox_.SetCaretToEnd();
  // The caret at the end shows the end of the list; the new line may have sorted into
  // its middle, and the user is to see where it went.
  const std::string& text = filesBox_.Text();
  for (const ListLine& l : CompleteLines(text)) {
    if (std::string_view(text).substr(l.start, l.contentEnd - l.start) == path) {
      filesBox_.ScrollIntoView(roles::CharCount(std::string_view(text).substr(0, l.start)));
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
  // Handlers run while the files are read may change the box; the reload goes on with
  // the list it started with.
  const std::string list = filesBox_.Text();
  const std::vector<ListLine> lines = CompleteLines(list);
  std::size_t next = 0;
  std::optional<ListedFile> file;
  lastFailure_ = ReloadFiles({flags_, parse_, pump_, progress_}, Reports::OffAndRefusalsEnd, [&]() -> ListedFile* {
    for (; next < lines.size(); ++next) {
      const std::string path = list.substr(lines[next].start, lines[next].contentEnd - lines[next].start);
      if (path.empty()) continue;
      ++next;
      file.reset();
      file.emplace(open_ ? open_(path) : ListedFile(path));
      return &*file;
    }
    return nullptr;
  }, [&](const ListedFile& failed, ReloadFailure why) {
    if (why != ReloadFailure::DuplicateOrBadChecksum) return TellFailure(dialogs_, failed);
    const bool damaged = parse_.LastOutcome() == mc303::MessageOutcome::BadChecksum;
    dialogs_.MessageBox(damaged ? BadChecksumMessage(failed.Name()) : std::string(kDuplicatePiece), roles::Buttons::Ok,
                        kDuplicateTitle, roles::Icon::Exclamation);
  });
  return lastFailure_ == ReloadFailure::None;
}

void TellFailure(roles::Dialogs& dialogs, const ListedFile& file) {
  switch (file.Failed()) {
    case ListedFile::Failure::Open: dialogs.MessageBox(kErrorOpeningFile + file.Name()); break;
    case ListedFile::Failure::Read: dialogs.MessageBox(kErrorReadingFile + file.Name()); break;
    case ListedFile::Failure::Damaged:
      dialogs.MessageBox(DamagedMidiMessage(file.Name(), file.Error().value_or("")), roles::Buttons::Ok,
                         kDuplicateTitle, roles::Icon::Exclamation);
      break;
    case ListedFile::Failure::None: break;
  }
}

namespace {

// Feeds one file that opened: None, or why it failed. A quit or an abort ends it early.
ReloadFailure FeedFile(const ReloadParts& p, Reports reports, ListedFile& file) {
  for (auto piece = file.Next(); !piece.empty(); piece = file.Next()) {
    for (const std::uint8_t b : piece) {
      if (p.flags.QuitRequested || p.flags.AbortRequested) return ReloadFailure::None;
      p.pump.PumpEvents();
      if (!p.parse.ParseMidiByte(b, reports == Reports::On) && reports == Reports::OffAndRefusalsEnd) {
        return ReloadFailure::DuplicateOrBadChecksum;
      }
    }
  }
  // A read error fails the file as an open failure does: taken for the file's end, it
  // would leave the combination (and the overall file saved from it) short of the rest
  // without a word.
  return file.Failed() == ListedFile::Failure::None ? ReloadFailure::None : ReloadFailure::ReadFailed;
}

}  // namespace

ReloadFailure ReloadFiles(const ReloadParts& p, Reports reports, const std::function<ListedFile*()>& next,
                          const std::function<void(const ListedFile&, ReloadFailure)>& failed) {
  p.parse.ResetPieceStore();
  p.flags.RecordingActive = true;
  bool splashShown = false;
  ReloadFailure failure = ReloadFailure::None;
  // After a quit the remaining files are not read; opening them would only show
  // messages while the program ends.
  for (ListedFile* file = nullptr; failure == ReloadFailure::None && !p.flags.QuitRequested && (file = next());) {
    using enum ListedFile::Failure;
    if (file->Failed() != None) {
      failure = file->Failed() == Open      ? ReloadFailure::OpenFailed
                : file->Failed() == Damaged ? ReloadFailure::DamagedMidi
                                            : ReloadFailure::ReadFailed;
      failed(*file, failure);
      break;
    }
    p.flags.AbortRequested = false;
    // Up from the first file to the end of the reload: shown and hidden for each file, a
    // list of small files would flash it too briefly to be drawn.
    if (!std::exchange(splashShown, true)) {
      p.progress.SetCaption(kLoadingCaption);
      p.progress.Show();
    }
    p.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
    failure = FeedFile(p, reports, *file);
    if (failure != ReloadFailure::None) failed(*file, failure);
    if (p.flags.AbortRequested) failure = ReloadFailure::Aborted;
  }
  if (splashShown) p.progress.Hide();
  if (!p.parse.Log().RestartPending) p.parse.CloseOutfile();
  p.flags.RecordingActive = false;
  return failure;
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
  const std::string previous = filesBox_.Text();
  filesBox_.SetText(WithoutMarkedLines(previous, filesBox_.SelStart(), filesBox_.SelLength()));
  (void)ReloadOrPutBack(previous);
}

}  // namespace filelist
