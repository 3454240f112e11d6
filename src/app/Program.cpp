#include "app/Program.h"

#include <QPushButton>
#include <iostream>

#include "app/QtEventPump.h"
#include "roles/FlagScope.h"

namespace app {

Program::Program(const ProgramEnvironment& env)
    : env_(env),
      settings_(env.programDirectory, env.dialogs),
      log_(env.programDirectory),
      parse_(flags_, boxes_.piecesBox, boxes_.reportBox, env.pump, env.dialogs, log_),
      progress_(env.dialogs, flags_),
      window_(std::make_unique<ui::MainWindow>(ui::MainWindowParts{boxes_, flags_, title_, mainState_, env.pump, settings_,
                                                              env.programDirectory,
                                                              [this] { return parse_.Log().Suppressed; }})),
      fileList_(flags_, boxes_.filesBox, parse_, env.pump, env.dialogs, progress_,
                [this](bool enabled) { window_->addButton->setEnabled(enabled); }),
      logSource_(log_),
      capture_(flags_, parse_, fileList_, boxes_.filesBox, boxes_.piecesBox, boxes_.reportBox, boxes_.trafficBox, env.dialogs,
               logSource_, mainState_),
      devices_(env.ports, env.dialogs, env.pump, window_->InputList(), window_->OutputList()),
      timer3_(*window_, countdown_, env.clock != nullptr ? *env.clock : steadyClock_),
      transmit_({flags_, parse_, boxes_.filesBox, boxes_.reportBox, boxes_.trafficBox, env.ports, devices_.State(), env.dialogs,
                 env.pump, progress_, countdown_, timer3_, settings_.TransmitBufferSize,
                 [this] { return fileList_.ReloadFileList(); }, settings_.PauseMs}),
      idle_(std::make_unique<QtIdleWait>(env.ports.InputArrived(), env.pump)),
      loop_({flags_, devices_, env.pump, boxes_.trafficBox, parse_, *idle_}) {
  ConnectHandlers();
}

Program::~Program() = default;

// The one place where the main window's controls meet the handlers behind them, and
// where they are kept from running into each other. A Send pumps events after every
// byte, so a click could arrive in the middle of one: Start, Stop, Save, Add, a removal
// from the Files box or another output would reset the store it parses into, restart
// the log it suppresses, or move the port it sends through. The window disables them
// while the Send runs rather than answer with a message box, which would hold the
// Send up while the device's buffer runs dry. Another input may be chosen: the Send
// uses only the output. Add and removals from the Files box re-read the list, which
// would throw away a capture between Start and Stop; they are refused then.
void Program::ConnectHandlers() {
  ui::MainWindow& w = *window_;
  progress_.SetOwner(window_.get(), [this] { return window_->ClearOfControls(); });

  // What a Send leaves in the report box says what was sent; the start prompt's blink
  // would wipe it out within half a second, so it stays off until a capture's Stop
  // brings it back.
  transmit_.SetSendingObserver([this](bool sending) {
    window_->SetSending(sending);
    if (sending) mainState_.BlinkEnabled = false;
  });
  w.OnAddClick = [this] { fileList_.AddClicked(); };
  w.OnFilesKeyDown = [this](int keyCode) { fileList_.FilesKeyDown(keyCode); };
  w.OnFilesKeyPress = [this](int charCode) { fileList_.FilesKeyPress(charCode); };
  fileList_.SetChangeGuard([this] { return transmit_.Busy() || capture_.RefuseWhileCapturing(); });
  w.InputList().OnChosen = [this] { devices_.InputChosen(); };
  w.OutputList().OnChosen = [this] { devices_.OutputChosen(); };
  // The capture handlers share mainState_ with Timer1: Start stops the prompt's blink
  // and the end of Stop starts it again.
  w.OnStartClick = [this] { capture_.StartClicked(); };
  w.OnStopClick = [this] { capture_.StopClicked(); };
  w.OnSaveClick = [this] { capture_.SaveClicked(); };
  w.OnRescanClick = [this] { RescanDevices(); };
  // The engine refuses a Send during a capture or a reload itself.
  w.OnSendClick = [this] {
    (void)transmit_.Send();
    if (quitAfterSend_) flags_.QuitRequested = true;
    quitAfterSend_ = false;
  };
  w.OkToQuit = [this] { return QuitNowOrAsk(); };
}

bool Program::QuitNowOrAsk() {
  if (quitQuestion_) return false;
  if (!transmit_.Busy()) return capture_.MayQuit();
  const std::string part = transmit_.PartBeingSent();
  const std::string text = part.empty() ? kQuitDuringSend[2] : kQuitDuringSend[0] + part + kQuitDuringSend[1];
  quitQuestion_ = env_.dialogs.Ask(text, roles::Buttons::YesNoCancel, ui::kQuestionTitle, roles::Icon::Question,
                                   [this](roles::Answer answer) {
                                     quitQuestion_.reset();
                                     if (answer != roles::Answer::Yes) return;
                                     if (!transmit_.Busy()) {
                                       flags_.QuitRequested = true;
                                     } else if (!quitAfterSend_) {
                                       // As Yes to the abort question, unless that came first.
                                       quitAfterSend_ = true;
                                       if (!transmit_.Stopped()) flags_.AbortRequested = true;
                                     }
                                   });
  return false;
}

void Program::RescanDevices() {
  if (rescanning_ || transmit_.Busy()) return;
  if (capture_.Capturing()) {
    env_.dialogs.MessageBox(kNoRescanWhileCapturing);
    return;
  }
  // Opening the ports pumps events after each slot; nothing may reach the ports or
  // the lists meanwhile.
  bool any = false;
  {
    roles::FlagScope busy(rescanning_);
    window_->SetRescanning(true);
    any = devices_.Rescan(flags_.QuitRequested);
    window_->SetRescanning(false);
  }
  if (!any) env_.dialogs.MessageBox(kNoDevicesNotice, roles::Buttons::Ok, kNoticeTitle, roles::Icon::Exclamation);
  window_->FitDeviceLists();
}

void Program::EndOnSignal() {
  if (transmit_.Busy()) {
    // The Send takes it as Yes to its abort question, and the program ends after it.
    quitAfterSend_ = true;
    flags_.AbortRequested = true;
    return;
  }
  if (const std::optional<std::string> note = capture_.KeepUnsavedCapture()) {
    std::cerr << "vezorizer: " << *note << std::endl;
  }
  flags_.QuitRequested = true;
}

bool Program::StartUp() {
  flags_.QuitRequested = false;
  flags_.RecordingActive = false;
  settings_.TransmitBufferSize = settings::kDefaultTransmitBufferSize;
  settings_.PauseMs = settings::kDefaultPauseMs;
  if (settings_.FileExists()) settings_.LoadSettings();
  env_.pump.PumpEvents();

  title_.TitleDismissed = false;
  titleWindow_ = std::make_unique<ui::TitleWindow>(title_);
  titleWindow_->Load(window_.get());
  env_.pump.PumpEvents();

  if (devices_.Probe() == 0) {
    env_.dialogs.MessageBox(kNoDevicesNotice, roles::Buttons::Ok, kNoticeTitle, roles::Icon::Exclamation);
    titleWindow_->hide();
    return false;
  }

  window_->Load();
  boxes_.trafficBox.SetText("");
  devices_.FillLists(flags_.QuitRequested);
  window_->FitDeviceLists();

  while (titleWindow_->Showing() && title_.TitleCountdown > 0) env_.pump.WaitForEvents();
  return true;
}

void Program::ShutDown() {
  devices_.Close();
  // The log's last batch belongs in OUTFILE.SYX like the rest of it.
  parse_.CloseOutfile();
  progress_.Hide();
  if (titleWindow_) titleWindow_->hide();
  window_->hide();
}

int Program::Main() {
  if (!StartUp()) return 0;
  RunReceiveLoop();
  ShutDown();
  return 0;
}

}  // namespace app
