// The main window's Timer3, a 1 ms QTimer, as the transmit engine drives it: switched on
// before every paced block; each tick steps the pacing countdown by the milliseconds the
// clock says really passed, and once the countdown is idle the timer is stopped again.
#pragma once

#include <QTimer>

#include "roles/Clock.h"
#include "roles/Timer3.h"
#include "transmit/PacingCountdown.h"
#include "ui/MainWindow.h"

namespace ui {

class QtTimer3 final : public roles::Timer3 {
 public:
  QtTimer3(MainWindow& window, transmit::PacingCountdown& countdown, roles::Clock& clock)
      : window_(window), countdown_(countdown), clock_(clock) {
    window_.OnTimer3Tick = [this] { Tick(); };
  }
  ~QtTimer3() override { window_.OnTimer3Tick = {}; }
  QtTimer3(const QtTimer3&) = delete;
  QtTimer3& operator=(const QtTimer3&) = delete;

  void SwitchOn() override {
    if (!window_.Timer3.isActive()) window_.Timer3.start();
  }

  void Tick() {
    countdown_.Tick(clock_.NowMs());
    // The tick after the one that ran the countdown out makes it idle; an armed
    // countdown (a block handed over since) keeps the timer running.
    if (countdown_.Idle()) window_.Timer3.stop();
  }

 private:
  MainWindow& window_;
  transmit::PacingCountdown& countdown_;
  roles::Clock& clock_;
};

}  // namespace ui
