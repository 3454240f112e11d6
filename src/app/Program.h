// Main: the window program's life from start-up to shut-down. Program owns one instance
// of every module (flags, settings, boxes, parser, file list, capture handlers, rings,
// device session, transmit engine, windows, receive loop) and hands each to whoever
// needs it. What differs between the real program and an offscreen test (the MIDI layer,
// the dialogs, the event pump, the program's directory, the pacing clock) comes in from
// outside.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "filelist/FileList.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "midi/DeviceSession.h"
#include "midi/MidiPorts.h"
#include "roles/Clock.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "session/CaptureControl.h"
#include "session/MainWindowState.h"
#include "session/OutputLogSource.h"
#include "session/ReceiveLoop.h"
#include "session/TitleState.h"
#include "settings/Settings.h"
#include "transmit/PacingCountdown.h"
#include "transmit/TransmitEngine.h"
#include "ui/QtTimer3.h"
#include "ui/MainWindow.h"
#include "ui/ProgressDialog.h"
#include "ui/TitleWindow.h"

namespace app {

inline constexpr const char* kNoDevicesNotice = "No MIDI devices currently connected.";
inline constexpr const char* kNoticeTitle = "Notice";
inline constexpr const char* kNoRescanWhileCapturing =
    "Recording is in progress.  Press Stop before looking for devices again.";
// Quit during a Send: "U10 pattern" between the first two parts when a part is under
// way; the third part alone when none is.
inline constexpr const char* kQuitDuringSend[3] = {
    "A Send is in progress.  Quitting first finishes ",
    ", so that the MC-303 does not hold half of it; the rest of the list is not sent.  Quit anyway?",
    "A Send is in progress.  Quitting stops it now; the rest of the list is not sent.  Quit anyway?"};

struct ProgramEnvironment {
  midi::MidiPorts& ports;
  roles::Dialogs& dialogs;
  roles::EventPump& pump;
  std::filesystem::path programDirectory;
  // The millisecond clock Timer3 steps the pacing countdown by; null for the steady
  // clock. Tests turn one of their own so that a Send's pauses take no real time.
  roles::Clock* clock = nullptr;
};

class Program {
 public:
  explicit Program(const ProgramEnvironment& env);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up, the receive loop until QuitRequested, shut-down. Returns the exit status.
  int Main();

  // Everything up to and including the title wait. False when the program is to end
  // at once: no MIDI device at all.
  [[nodiscard]] bool StartUp();
  void RunReceiveLoop() { loop_.Run(); }
  // A signal ends the program as Quit does, without asking: a Send first finishes the
  // part it is in (a second signal stops it at once); a capture not yet saved is left
  // in OUTFILE.SYX, and stderr says so.
  void EndOnSignal();
  // Stops and closes every port, puts the output log on disk and takes the windows
  // down. Nothing the user has not saved is saved.
  void ShutDown();
  // Quit or the close box: true when the program may end now. During a Send it asks
  // first, without holding the Send up, and on a Yes the Send finishes the part it is
  // in before the program ends; during a capture the capture asks.
  bool QuitNowOrAsk();
  // The rescan button: closes every port, reads the MIDI systems' lists afresh and
  // opens the ports again, the choice of input and output kept by name where its
  // device is still there, entry 0 chosen where not, as at start-up. Refused during a
  // capture, whose input would be closed under it; during a Send the button is
  // disabled. With no port left the lists stay empty and the program goes on, so that
  // a device plugged in later can still be found.
  void RescanDevices();

  mc303::SharedFlags& Flags() { return flags_; }
  settings::Settings& Settings() { return settings_; }
  session::TitleState& Title() { return title_; }
  session::MainWindowState& MainState() { return mainState_; }
  ui::MainBoxes& Boxes() { return boxes_; }
  mc303::SysexIntake& Parse() { return parse_; }
  filelist::FileList& FileList() { return fileList_; }
  session::CaptureControl& Capture() { return capture_; }
  ui::QtProgressWindow& ProgressWindow() { return progress_; }
  midi::DeviceSession& Devices() { return devices_; }
  transmit::TransmitEngine& Transmit() { return transmit_; }
  session::ReceiveLoop& Loop() { return loop_; }
  ui::MainWindow& Window() { return *window_; }
  // Null until start-up shows it.
  ui::TitleWindow* ShownTitleWindow() { return titleWindow_.get(); }

 private:
  void ConnectHandlers();

  ProgramEnvironment env_;
  mc303::SharedFlags flags_;
  settings::Settings settings_;
  session::TitleState title_;
  session::MainWindowState mainState_;
  ui::MainBoxes boxes_;
  mc303::DiskLogFile log_;
  mc303::SysexIntake parse_;
  ui::QtProgressWindow progress_;
  std::unique_ptr<ui::MainWindow> window_;
  filelist::FileList fileList_;
  // Stop and Save copy OUTFILE.SYX from the program's directory, where the parser logs.
  session::DiskLogSource logSource_;
  session::CaptureControl capture_;
  midi::DeviceSession devices_;
  roles::SteadyClock steadyClock_;
  transmit::PacingCountdown countdown_;
  ui::QtTimer3 timer3_;
  transmit::TransmitEngine transmit_;
  std::unique_ptr<session::IdleWait> idle_;
  session::ReceiveLoop loop_;
  std::unique_ptr<ui::TitleWindow> titleWindow_;
  std::unique_ptr<roles::OpenQuestion> quitQuestion_;
  bool quitAfterSend_ = false;
  bool rescanning_ = false;
};

}  // namespace app
