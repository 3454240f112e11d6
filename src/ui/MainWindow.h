// MainWindow: the program's main window. Eight buttons in four columns (Record, Combine,
// Transmit, Other), the input and output device lists with the button that reads them
// afresh, and the Files, Pieces, MC303 and Traffic boxes. The boxes' texts live in
// MainBoxes, which the core writes; the window shows them. The window's own handlers
// are the start prompt's blink (Timer1), the pacing tick (Timer3), Quit, Speed, Help
// and closing; every other control hands its event to a handler the program connects.
#pragma once

#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "mc303/SharedFlags.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"
#include "session/MainWindowState.h"
#include "session/TitleState.h"
#include "settings/Settings.h"
#include "ui/QtDeviceList.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace ui {

class TextBoxView;
class HelpWindow;
class SpeedWindow;

inline constexpr const char* kMainCaption = "Velk's MC303 Vezorizer";

// The texts of the four boxes, with the maximum lengths the code that fills them
// relies on.
struct MainBoxes {
  roles::TextBox filesBox{8192};
  roles::TextBox piecesBox{16384};
  roles::TextBox reportBox{1024};
  roles::TextBox trafficBox{174};
};

struct MainWindowParts {
  MainBoxes& boxes;
  mc303::SharedFlags& flags;
  session::TitleState& title;
  session::MainWindowState& state;
  roles::EventPump& pump;
  settings::Settings& settings;
  std::filesystem::path programDirectory;  // where the help window finds README.TXT
  std::function<bool()> suppressed;        // the transmit engine runs: the prompt must not blink
};

class MainWindow final : public QWidget {
 public:
  explicit MainWindow(const MainWindowParts& parts, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Keeps the window hidden until the title window has gone or counted down, then
  // shows it with the start prompt blinking.
  void Load();
  void Timer1Tick();
  void Timer3Tick();


  // Speed and Help: shown beside the main window, created first when needed.
  void ShowSpeedWindow();
  void ShowHelpWindow();
  SpeedWindow* ShownSpeedWindow() { return speedWindow_.get(); }
  HelpWindow* ShownHelpWindow() { return helpWindow_.get(); }

  // While a Send runs the controls that would disturb it are disabled. Help, Quit, the
  // input list and Speed stay usable (the Send reads the buffer size afresh at every
  // block end, so a user who sees RCV ERR can lower it), and the Files box can still
  // be scrolled; the file list refuses its removals then.
  void SetSending(bool sending);
  // While the device lists are read afresh, every control that would use a port or
  // the lists is disabled: the ports are being closed and opened again.
  void SetRescanning(bool rescanning);
  // Widens the window, up to the screen's width, when a device list is too narrow for
  // its longest name; the lists take all the width gained.
  void FitDeviceLists();
  // On the screen, the part of the window where another window may stand without
  // hiding a control that stays usable: over the Pieces, MC303 and Traffic boxes.
  QRect ClearOfControls() const;

  QtDeviceList& InputList() { return *inputList_; }
  QtDeviceList& OutputList() { return *outputList_; }

  // What the program connects: the handlers of the capture, file list, transmit and
  // device controls. An empty one makes its control do nothing.
  std::function<void()> OnStartClick, OnStopClick, OnAddClick, OnSaveClick, OnSendClick, OnRescanClick;
  std::function<void(int)> OnFilesKeyDown, OnFilesKeyPress;
  // Each tick of Timer3 while a Send paces its blocks (QtTimer3 starts and stops it).
  std::function<void()> OnTimer3Tick;
  // Asked before Quit or the close box ends the program: false keeps it running (what
  // would be lost is the program's to tell). Empty: the program ends at once.
  std::function<bool()> OkToQuit;

  QPushButton *startButton, *stopButton, *addButton, *saveButton, *sendButton, *speedButton, *helpButton, *quitButton;
  QLabel *columnHeadings, *inputLabel, *outputLabel, *filesHeading, *piecesHeading, *reportHeading, *trafficHeading;
  QComboBox *inputList, *outputList;
  QPushButton* rescanButton;
  TextBoxView *filesBox, *piecesBox, *reportBox, *trafficBox;
  QTimer Timer1;
  QTimer Timer3;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The constructor's steps, in the order the controls are made.
  void MakeButtons(double scale);
  void MakeLabels(double scale);
  void MakeBoxes(double scale);
  void ConnectControls();
  void SetNamesAndTabOrder();
  void PlaceGrowingControls();
  // Quit and the close box: true when the program is to end, QuitRequested then set.
  bool Quit();

  MainWindowParts p_;
  double scale_ = 1.0;
  std::unique_ptr<QtDeviceList> inputList_, outputList_;
  std::unique_ptr<SpeedWindow> speedWindow_;
  std::unique_ptr<HelpWindow> helpWindow_;
};

}  // namespace ui
