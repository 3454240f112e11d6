// TitleWindow: the title window shown at start-up for about a second (ten 100 ms ticks) or
// until a key is pressed, while the start-up routine opens the MIDI ports behind it.
#pragma once

#include <QTimer>
#include <QWidget>

#include "session/TitleState.h"

class QFrame;
class QLabel;

namespace ui {

class TitleWindow final : public QWidget {
 public:
  explicit TitleWindow(session::TitleState& state, QWidget* parent = nullptr);

  // Shows the window without waiting, centred where the main window is to open (on
  // the screen without one), and starts the countdown.
  void Load(const QWidget* mainWindow = nullptr);
  // One 100 ms tick; the tenth closes the window.
  void Timer1Tick();
  // What the start-up routine waits on: false once the window has gone.
  bool Showing() const { return isVisible(); }

  QFrame* frame;
  QLabel* nameLabel;
  QLabel* versionLabel;
  QLabel* bylineLabel;
  QTimer Timer1;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Dismiss();

  session::TitleState& state_;
};

}  // namespace ui
