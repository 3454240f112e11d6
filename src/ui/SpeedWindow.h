// SpeedWindow: the transmit buffer size window, opened by the main window's Speed button.
// Its box sizeBox holds the size; every change of the box's text, typed or set by the
// program, saves SETTINGS.DAT at once. The box below it holds the pause after each
// block, saved on every change typed; the first label says the pause in force.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "roles/TextBox.h"
#include "settings/Settings.h"

class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace ui {

inline constexpr const char* kTBufSizCaption = "Transmit Buffer Size Setting";
inline constexpr const char* kTBufSizLabels[4] = {
    "Enter Transmit Buffer Size.  This value will determine how many bytes will be sent at once.  I programmed this "
    "program to automatically insert at least 200 milliseconds between blocks of bytes that are sent at once.",
    "I recommend a value of 1024.  I have been getting complaints of buffer overflows with this value set to 1024.  "
    "In version 1.1 and 1.0 of this program, 1024 was forced.  Now you can change the value and the default is 139, "
    "a value that was chosen by a recent user who E-mailed me feedback.  Experiment a little and find a value that "
    "works with your system.",
    "WARNING!  Changing this value MAY cause BUFFER OVERFLOW problems WITH CERTAIN MIDI DEVICES!  CHANGE at your OWN "
    "RISK!  (If you see RCV ERR then you know for sure something is wrong).",
    "Note: This setting only affects the SEND button (send to the Groovebox from the PC).  This setting does NOT "
    "affect the transfer from the Groovebox to the PC (also known as the Bulk Dump) which should be good as long as "
    "the MIDI cable is good (for Bulk Dump, press START from the main screen).",
};
inline constexpr const char* kTBufSizBoxLabel = "TRANSMIT BUFFER SIZE:";
inline constexpr const char* kPauseBoxLabel = "PAUSE AFTER EACH BLOCK (MILLISECONDS):";
// The first label, saying the pause really inserted: its own words for the default.
std::string PauseLabel(std::int32_t pauseMs);

class SpeedWindow final : public QWidget {
 public:
  explicit SpeedWindow(settings::Settings& settings, QWidget* parent = nullptr);

  // Shows the window, reads SETTINGS.DAT if nothing has read it yet, and puts the
  // size into the box.
  void Load();

  roles::TextBox sizeText{0};  // a single-line box without a maximum
  QLineEdit* sizeBox;
  roles::TextBox pauseText{0};
  QLineEdit* pauseBox;
  QLabel* Labels[4];
  QLabel* BoxLabel;
  QLabel* PauseBoxLabel;

 protected:
  bool event(QEvent* event) override;
  // Escape closes it; every typed size is saved already.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // A box whose model says what it shows, and which mirrors typing into the model.
  QLineEdit* AddBoxRow(QVBoxLayout& layout, const char* label, QLabel*& labelWidget, roles::TextBox& model);
  void ShowModel(QLineEdit& box, const roles::TextBox& model);
  void ShowSize();
  void ShowPause();

  settings::Settings& settings_;
  bool applying_ = false;
  bool showingPause_ = false;  // the program puts the pause in: nothing to save
};

}  // namespace ui
