// The main window's Timer3 as the transmit engine sees it: Send switches it on before
// every paced block, and each tick steps the pacing countdown by the milliseconds the
// clock says really passed. Once the countdown is idle the timer is stopped again, so a
// program with nothing to send is not woken a thousand times a second.
#pragma once

#include "transmit/Clock.h"
#include "transmit/PacingCountdown.h"
#include "ui/PacingTimer.h"

namespace app {

class Timer3Pacing final : public transmit::PaceTimer {
 public:
  Timer3Pacing(ui::PacingTimer& timer3, transmit::PacingCountdown& countdown, transmit::Clock& clock)
      : timer3_(timer3), countdown_(countdown), clock_(clock) {
    timer3_.SetPacingTick([this] { Tick(); });
  }
  ~Timer3Pacing() override { timer3_.SetPacingTick({}); }
  Timer3Pacing(const Timer3Pacing&) = delete;
  Timer3Pacing& operator=(const Timer3Pacing&) = delete;

  void SwitchOn() override { timer3_.ArmPacing(); }

  void Tick() {
    countdown_.Tick(clock_.NowMs());
    // The tick after the one that ran the countdown out makes it idle; an armed
    // countdown (a block handed over since) keeps the timer running.
    if (countdown_.Idle()) timer3_.DisarmPacing();
  }

 private:
  ui::PacingTimer& timer3_;
  transmit::PacingCountdown& countdown_;
  transmit::Clock& clock_;
};

}  // namespace app
