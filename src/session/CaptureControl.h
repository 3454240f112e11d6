// Start, Stop and Save of the main window: arming a capture, ending it, and saving what
// was gathered as one overall .SYX file plus two files per complete user slot. Free of
// Qt: the window constructs one and forwards its button clicks here; tests drive it
// with scripted dialogs and real files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filelist/FileList.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "roles/Dialogs.h"
#include "roles/TextBox.h"
#include "session/MainWindowState.h"
#include "session/OutputLogSource.h"

namespace session {

inline constexpr const char* kNotWhileCapturing = "Recording is in progress.  Press Stop before changing the file list.";

// Stop saves a capture and goes on to the totals check and the piece files; Save only
// copies the output log, usually the combination the file list's reload wrote.
enum class SaveForm { Stop, Save };

// The totals check of Stop, shared with the capture command: the warning when the
// overall file holds two or more bytes more, or fewer, than all pieces of the store
// added up (the stream then ended in bytes no piece holds), else nothing.
std::optional<std::string> TotalsWarning(std::int64_t recorded, const mc303::PieceStore& store);

class CaptureControl {
 public:
  // The four boxes are the main window's Files, Pieces, report ("MC303") and Traffic
  // boxes. logSource reads back the parser's output log for the overall copy.
  CaptureControl(mc303::SharedFlags& flags, mc303::SysexIntake& parse, filelist::FileList& fileList,
                 roles::TextBox& filesBox, roles::TextBox& piecesBox, roles::TextBox& reportBox, roles::TextBox& trafficBox,
                 roles::Dialogs& dialogs, OutputLogSource& logSource, MainWindowState& window);
  CaptureControl(const CaptureControl&) = delete;
  CaptureControl& operator=(const CaptureControl&) = delete;

  // The button handlers. A click that arrives through the event pumping of another of
  // them, or of an add or reload of the file list, is ignored: a capture armed or ended
  // in the middle of a save or a reload would be disarmed or half-logged by the routine
  // it interrupted.
  void StartClicked();
  void StopClicked();
  void SaveClicked();

  // Asks for the overall file's name and copies the output log there, replacing any file
  // of that name only once the copy is complete. Returns the name written (with ".SYX"
  // appended when the choice lacked it), or nothing when the user cancelled. The Stop
  // form ends the log once a name is chosen.
  std::optional<std::string> SaveOverallFile(SaveForm form);
  // Offers a save dialog for every user slot holding both its parts and writes the two
  // piece files, each then listed in the Files box. Failures are shown per slot.
  void SavePieceFiles();
  // Warns when the overall file holds two or more bytes more, or fewer, than all
  // pieces added up: the stream then ended in bytes that no saved piece holds.
  void CheckDumpTotals(const std::string& overallPath);

  // True while one of the handlers above runs, or the file list adds or reloads.
  bool Busy() const { return running_ || fileList_.Adding() || fileList_.Reloading(); }

  // For the file list's Add and removals, whose reload would reset the piece store,
  // restart the output log and clear RecordingActive under the capture, so that Stop
  // would find nothing to save: shows kNotWhileCapturing and returns true while a
  // capture is armed (from the OK of Start until Stop has saved it), false otherwise.
  bool RefuseWhileCapturing();
  // A capture is armed: from the OK of Start until Stop has saved it.
  bool Capturing() const { return armed_; }

  // Asked before Quit or the close box ends the program: while a capture is armed,
  // the user says whether to give up what is not saved yet. True: quit.
  bool MayQuit();
  // For an end nobody can be asked about (a signal): while a capture is armed, puts the
  // output log on disk and returns what to tell about the recording left there.
  std::optional<std::string> KeepUnsavedCapture();

 private:
  bool WritePieceFile(const std::string& name, const std::vector<std::uint8_t>& bytes);

  mc303::SharedFlags& flags_;
  mc303::SysexIntake& parse_;
  filelist::FileList& fileList_;
  roles::TextBox& filesBox_;
  roles::TextBox& piecesBox_;
  roles::TextBox& reportBox_;
  roles::TextBox& trafficBox_;
  roles::Dialogs& dialogs_;
  OutputLogSource& logSource_;
  MainWindowState& window_;
  bool running_ = false;
  // The capture's own state: RecordingActive is set by a reload or a Send for their
  // length too.
  bool armed_ = false;
};

}  // namespace session
