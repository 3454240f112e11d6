#include "session/CaptureControl.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "mc303/SyxFiles.h"
#include "platform/Files.h"
#include "roles/FlagScope.h"

namespace session {
namespace {

constexpr const char* kStartTitle = "Press OK Button";
constexpr const char* kStartInstruction =
    "After you have verified that FE's are appearing in the traffic window, press FUNC-SHIFT-16.  The MC303 "
    "will say \"Send\".  Do not press ENTER yet.  First hit the OK button in this window.";
constexpr const char* kStartOverTitle = "WARNING";
constexpr const char* kStartOverQuestion =
    "WARNING: If you start over, you will lose all the data that is in the right three boxes.  Are you sure you "
    "want to start over?";
constexpr const char* kPressStartFirst = "You must press START first before you can save the data.";
constexpr const char* kCancelSelected = "Cancel was selected.";
constexpr const char* kNoDataStored = "No data has been stored in the buffer yet.";
constexpr const char* kOperationCancelled = "Operation cancelled.";
constexpr const char* kIoErrorAccessingFile = "I/O Error accessing file ";
constexpr const char* kQuitTitle = "WARNING";

// No I/O failed: the piece is longer than any piece file is (byte positions in them
// count in 16 bits), and one cut short must not be written.
std::string TooLongForAPieceFile(const std::string& name, std::size_t bytes) {
  return name + " was not written: the piece holds " + std::to_string(bytes) + " bytes, more than the " +
         std::to_string(mc303::kMaxPieceFileBytes) + " a piece file may hold.";
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The bytes in the overall file, or nothing when it cannot be read at all. A name with
// nothing behind it counts as an empty file wherever one could be made, without making
// it: the check must not leave a file behind that the save itself did not write.
std::optional<std::int64_t> CountFileBytes(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_type type = fs::status(path, ec).type();
  if (type == fs::file_type::not_found) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (fs::is_directory(folder, ec)) return 0;
    return std::nullopt;
  }
  if (type == fs::file_type::directory) return std::nullopt;
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
  if (!file) return std::nullopt;
  // A read that fails part-way leaves the count reached so far.
  std::int64_t count = 0;
  std::array<unsigned char, 65536> chunk;
  for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0;) {
    count += static_cast<std::int64_t>(n);
  }
  return count;
}

}  // namespace

CaptureControl::CaptureControl(mc303::SharedFlags& flags, mc303::SysexIntake& parse, filelist::FileList& fileList,
                               roles::TextBox& filesBox, roles::TextBox& piecesBox, roles::TextBox& reportBox,
                               roles::TextBox& trafficBox, roles::Dialogs& dialogs, OutputLogSource& logSource,
                               MainWindowState& window)
    : flags_(flags),
      parse_(parse),
      fileList_(fileList),
      filesBox_(filesBox),
      piecesBox_(piecesBox),
      reportBox_(reportBox),
      trafficBox_(trafficBox),
      dialogs_(dialogs),
      logSource_(logSource),
      window_(window) {}

void CaptureControl::StartClicked() {
  if (Busy()) return;
  roles::FlagScope running(running_);

  if (!flags_.RecordingActive) {
    // Modal, and shown before the capture is armed: the instruction tells the user not
    // to start the dump on the device until it is closed.
    dialogs_.MessageBox(kStartInstruction, roles::Buttons::Ok, kStartTitle);
    flags_.RecordingActive = true;
    armed_ = true;
    parse_.ResetPieceStore();
    window_.BlinkEnabled = false;
    filesBox_.SetText("");
    piecesBox_.SetText("");
    trafficBox_.SetText("");
    reportBox_.SetText("");
    // The first logged byte deletes and re-creates it anyway; a failure here is moot.
    parse_.LogFile().Delete();
    return;
  }

  if (dialogs_.MessageBox(kStartOverQuestion, roles::Buttons::YesNoCancel, kStartOverTitle) != roles::Answer::Yes) return;
  // Closed now, the next logged byte starts a fresh log from empty.
  parse_.CloseOutfile();
  parse_.ResetPieceStore();
  // The Files box is the leftmost one; the question speaks of the right three.
  piecesBox_.SetText("");
  trafficBox_.SetText("");
  reportBox_.SetText("");
}

void CaptureControl::StopClicked() {
  if (Busy()) return;
  roles::FlagScope running(running_);

  if (!flags_.RecordingActive) {
    dialogs_.MessageBox(kPressStartFirst);
    return;
  }
  // On disk before the dialog, but open until a name is chosen: a Stop cancelled
  // while the device still sends keeps recording what comes after it.
  parse_.FlushOutfile();
  const bool nothingLogged = parse_.Log().RestartPending;
  const std::optional<std::string> overall = SaveOverallFile(SaveForm::Stop);
  if (!overall) {
    // The capture stays armed with its log and its pieces, so pressing Stop again
    // offers the same save.
    dialogs_.MessageBox(kCancelSelected);
    return;
  }
  // With nothing received the file named is no recording, and may be an old one kept.
  if (!nothingLogged) CheckDumpTotals(*overall);
  SavePieceFiles();
  reportBox_.SetText(std::string(kStartPrompt));
  window_.BlinkEnabled = true;
  flags_.RecordingActive = false;
  armed_ = false;
}

bool CaptureControl::MayQuit() {
  if (!armed_) return true;
  const std::string question = "WARNING: The capture has not been saved.  If you quit now, it will be lost, but " +
                               parse_.LogFile().Location() +
                               " keeps what was received until the next Start.  Are you sure you want to quit?";
  return dialogs_.MessageBox(question, roles::Buttons::YesNo, kQuitTitle) == roles::Answer::Yes;
}

std::optional<std::string> CaptureControl::KeepUnsavedCapture() {
  if (!armed_) return std::nullopt;
  parse_.FlushOutfile();
  if (parse_.Log().RestartPending) return std::string("ended during a capture before anything was received");
  return "ended during a capture that was not saved: the " + std::to_string(parse_.Log().ByteCount) +
         " bytes received are in " + parse_.LogFile().Location() + " until the next Start";
}

bool CaptureControl::RefuseWhileCapturing() {
  if (!armed_) return false;
  dialogs_.MessageBox(kNotWhileCapturing);
  return true;
}

void CaptureControl::SaveClicked() {
  if (Busy()) return;
  roles::FlagScope running(running_);

  const mc303::OutfileLog& log = parse_.Log();
  if (log.RestartPending || log.ByteCount < 1) {
    dialogs_.MessageBox(kNoDataStored);
    return;
  }
  (void)SaveOverallFile(SaveForm::Save);
}

std::optional<std::string> CaptureControl::SaveOverallFile(SaveForm form) {
  // A reset leaves the count where the last recording left it; nothing logged since
  // is nothing to save.
  const mc303::OutfileLog& log = parse_.Log();
  const std::int32_t logged = log.RestartPending ? 0 : log.ByteCount;
  const std::string title = "Save Overall SYX File - " + std::to_string(logged) + " bytes";
  const std::optional<std::string> chosen = dialogs_.SaveFileDialog(title, roles::kSyxFilter);
  if (!chosen) return std::nullopt;
  // Only the file that is written is replaced, and only once its new contents are
  // complete beside it: a failed copy leaves the old file as it was, and a name chosen
  // without the extension never costs the user the file of exactly that name.
  const std::string name = mc303::OverallFileName(*chosen);

  if (log.RestartPending) {
    // Nothing was logged since the last reset (Save never gets here, since its button
    // refuses an empty log). Stop leaves an empty file where there was none, but
    // never empties one that holds something.
    if (form == SaveForm::Stop) {
      std::error_code ec;
      if (std::filesystem::symlink_status(name, ec).type() == std::filesystem::file_type::not_found) {
        (void)mc303::ReplaceFile(name, {});
      } else {
        dialogs_.MessageBox("Nothing was received in this capture, so " + name + " was left as it was.");
      }
    }
    return name;
  }
  // Save may come in the middle of a capture: the log's batched bytes go to the disk
  // for the copy, but the log stays open, or all the capture brings after this Save
  // would be missing from its overall file. Stop, a name chosen, ends the log.
  if (form == SaveForm::Save) parse_.FlushOutfile();
  else parse_.CloseOutfile();

  std::vector<std::uint8_t> bytes;
  if (logSource_.ReadLog(bytes) || mc303::ReplaceFile(name, bytes)) {
    if (form == SaveForm::Stop) {
      dialogs_.MessageBox("Could not create " + name +
                          ".  This may be because there was nothing received or because that file is locked.");
    } else {
      dialogs_.MessageBox("Could not copy to " + name + "!");
    }
  }
  return name;
}

void CaptureControl::SavePieceFiles() {
  // A copy: listing each saved file pumps events, and a handler run there (an Add,
  // whose reload rebuilds the store) must not change what the rest of this save writes.
  const mc303::PieceStore pieces = parse_.Store();
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    // A slot with one part only is never saved as pieces; the overall file holds it.
    if (!pieces.PatternPresent[i] || !pieces.SettingsPresent[i]) continue;
    const std::optional<std::string> chosen = dialogs_.SaveFileDialog("Save Piece " + mc303::UserName(s + 1), roles::kSyxFilter);
    if (!chosen) {
      dialogs_.MessageBox(kOperationCancelled);
      continue;
    }
    const std::string base = mc303::PieceBaseName(*chosen);
    for (const mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      const std::string name = mc303::PieceFileName(base, s, kind);
      const mc303::ByteString& bytes = kind == mc303::PieceKind::Pattern ? pieces.PatternData[i] : pieces.SettingsData[i];
      const bool tooLong = bytes.size() > mc303::kMaxPieceFileBytes;
      if (tooLong || !WritePieceFile(name, bytes)) {
        // The settings file of a slot whose pattern file failed is not written.
        dialogs_.MessageBox(tooLong ? TooLongForAPieceFile(name, bytes.size()) : kIoErrorAccessingFile + name);
        dialogs_.MessageBox(kOperationCancelled);
        break;
      }
    }
  }
}

bool CaptureControl::WritePieceFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  if (mc303::ReplaceFile(name, bytes)) return false;
  // Written is written: a full Files box says so itself and leaves the file unlisted,
  // and the slot's other file and the later slots are still saved.
  fileList_.AddFileLine(name + "\r\n");
  return true;
}

void CaptureControl::CheckDumpTotals(const std::string& overallPath) {
  const std::optional<std::int64_t> recorded = CountFileBytes(overallPath);
  if (!recorded) return;
  if (const std::optional<std::string> warning = TotalsWarning(*recorded, parse_.Store())) dialogs_.MessageBox(*warning);
}

std::optional<std::string> TotalsWarning(std::int64_t recorded, const mc303::PieceStore& store) {
  std::int64_t pieces = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(mc303::kUserSlots); ++i) {
    if (store.PatternPresent[i]) pieces += static_cast<std::int64_t>(store.PatternData[i].size());
    if (store.SettingsPresent[i]) pieces += static_cast<std::int64_t>(store.SettingsData[i].size());
  }
  // One byte either way is tolerated; bytes after the last identified message stay
  // pending and belong to no piece, so two or more mean a damaged or foreign tail.
  if (recorded >= pieces - 1 && recorded <= pieces + 1) return std::nullopt;
  return "WARNING: Total data recorded does not match all pieces data added up!   Total data recorded is " +
         std::to_string(recorded) + " bytes.  Pieces added up is " + std::to_string(pieces) + " bytes.";
}

}  // namespace session
