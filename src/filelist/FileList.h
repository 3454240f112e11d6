// The file list: the paths in the Files box, the Add button, and the reload that
// rebuilds the piece store and the output log from every listed file in list order.
// The window forwards its Add clicks and Files box keys here; the command-line
// front end drives the same code, so both build a list alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "filelist/ListedFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/ProgressWindow.h"
#include "roles/TextBox.h"

namespace filelist {

inline constexpr const char* kAddDialogTitle = "Add SYX File";
inline constexpr const char* kTooManyFiles = "Too many files added!";
inline constexpr const char* kErrorOpeningFile = "Error opening file ";
// A file that opened but could not be read to its end (a bad sector, a file that
// vanished from a network share): it must not pass for a shorter file that loaded.
inline constexpr const char* kErrorReadingFile = "Error reading file ";
inline constexpr const char* kDuplicatePiece =
    "A duplicate piece of data was found in the file just specified to 'add'.  Please delete previously "
    "existing file from file list if you want to add the file you just specified.";
// A damaged file, told apart from a duplicate: a message in it fails its checksum.
std::string BadChecksumMessage(std::string_view path);
// A MIDI file that cannot be decoded; reason as ListedFile::Error gives it.
std::string DamagedMidiMessage(std::string_view path, std::string_view reason);
inline constexpr const char* kDuplicateTitle = "Error";
inline constexpr const char* kLoadingCaption = "Loading...";
// Follows the file's name: a line break in it would split it into other paths when
// the list is read back.
inline constexpr const char* kLineBreakInName = " cannot be listed: its name holds a line break.";

// Key and character codes the Files box acts on.
inline constexpr int kBackspace = 8;
inline constexpr int kDeleteKey = 46;
inline constexpr int kDeleteChar = 127;

enum class AddOutcome {
  Added,
  Cancelled,     // the dialog was cancelled
  TooManyFiles,  // the box had no room for the line; the list is as it was
  Refused,       // the new list did not load; the previous one was put back
  BadName,       // the name holds a line break; nothing was listed or reloaded
};

// Why the last reload returned false.
enum class ReloadFailure { None, OpenFailed, ReadFailed, DamagedMidi, DuplicateOrBadChecksum, Aborted };

// Says why a listed file gives no (more) bytes, as the reload and the Send say it.
void TellFailure(roles::Dialogs& dialogs, const ListedFile& file);

struct ReloadParts {
  mc303::SharedFlags& flags;
  mc303::SysexIntake& parse;
  roles::EventPump& pump;
  roles::ProgressWindow& progress;
};
// Reports off, a refused message (a duplicate, a bad checksum) ends the reload, as the
// file list needs; on, every message is reported and the reading goes on, as the
// command line's inspect needs.
enum class Reports { OffAndRefusalsEnd, On };

// The reload, for the Files box and the command line's FILEs alike: one
// ResetPieceStore, RecordingActive on, then every byte of every file that next gives
// (nullptr: no more) through the parser, LastKind set to None at the start of each so
// that a file never continues a piece of the file before it; the output log closed at
// the end. failed is told of the file that ended it, and how; a quit ends it early
// without a failure, an abort with one.
ReloadFailure ReloadFiles(const ReloadParts& parts, Reports reports, const std::function<ListedFile*()>& next,
                          const std::function<void(const ListedFile&, ReloadFailure)>& failed);

class FileList {
 public:
  // setAddEnabled enables and disables the Add button; it may be empty.
  FileList(mc303::SharedFlags& flags, roles::TextBox& filesBox, mc303::SysexIntake& parse, roles::EventPump& pump,
           roles::Dialogs& dialogs, roles::ProgressWindow& progress, std::function<void(bool)> setAddEnabled = {});
  FileList(const FileList&) = delete;
  FileList& operator=(const FileList&) = delete;

  // Asked before an Add click and a removal from the Files box change the list: true
  // refuses the change (the guard has told the user why). The window refuses them while
  // a Send or a capture runs, since the reload that follows would reset the store that
  // one parses into or records.
  void SetChangeGuard(std::function<bool()> refuseChange) { refuseChange_ = std::move(refuseChange); }
  // Opens a listed name instead of ListedFile: the command line hands over the bytes it
  // has read already (standard input reads only once).
  void SetOpener(std::function<ListedFile(const std::string&)> open) { open_ = std::move(open); }

  // Click on Add: asks for a file and adds it. The button stays disabled until done.
  void AddClicked();
  // Adds one path as the Add button does once a file is chosen: lists it in its sorted
  // place and reloads; when the new list does not load, the previous one is put back
  // (ReloadOrPutBack).
  AddOutcome AddFile(const std::string& path);

  // Puts one line (a path and its CR LF) in its sorted place and scrolls it into sight.
  // When the box has no room for it, or the path itself holds a line break, a message
  // says so and the list stays as it was: the caller goes on either way.
  void AddFileLine(const std::string& line);
  // True when the Files box has room for the line, counted in characters.
  bool HasRoomFor(std::string_view line) const;

  // Rebuilds the piece store and the output log from every listed file (ReloadFiles).
  // False when a file could not be opened or read, repeated a piece, held a bad
  // checksum or was aborted; the store then holds the files before it.
  [[nodiscard]] bool ReloadFileList();
  // The reload after a change to the list (an Add, a removal): when the new list does
  // not load, the previous one is put back and reloaded. Should that fail as well, its
  // names stay listed but the store is emptied, since a combination read only in part
  // is nothing to save. The list is never emptied. True when the new list loaded.
  bool ReloadOrPutBack(const std::string& previous);
  ReloadFailure LastFailure() const { return lastFailure_; }

  // Files box keys. The box never acts on a key itself: the window discards every key
  // and character after passing it here.
  void FilesKeyDown(int keyCode);
  void FilesKeyPress(int charCode);
  // Removes the lines the caret or selection marks, then reloads; the lines come back
  // when what remains does not load (ReloadOrPutBack). Nothing happens when the change
  // guard refuses.
  void RemoveMarkedLines();

  // True while a reload runs; handlers called from its event pumping see it.
  bool Reloading() const { return reloading_; }
  // True from an Add click until its list is loaded or put back.
  bool Adding() const { return adding_; }

 private:
  bool RefuseChange();
  bool RefuseLineBreak(std::string_view path);

  mc303::SharedFlags& flags_;
  roles::TextBox& filesBox_;
  mc303::SysexIntake& parse_;
  roles::EventPump& pump_;
  roles::Dialogs& dialogs_;
  roles::ProgressWindow& progress_;
  std::function<void(bool)> setAddEnabled_;
  std::function<bool()> refuseChange_;
  std::function<ListedFile(const std::string&)> open_;

  bool adding_ = false;
  bool reloading_ = false;
  ReloadFailure lastFailure_ = ReloadFailure::None;
};

}  // namespace filelist
