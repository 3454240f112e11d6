// The main window's 1 ms timer (Timer3) as the transmit engine drives it: the engine
// installs its pacing step as the tick and arms the timer before every paced block.
// A tick with no countdown running does nothing, so the window keeps the timer stopped
// until it is armed and the idle program does not wake a thousand times a second.
#pragma once

#include <functional>

namespace ui {

class PacingTimer {
 public:
  virtual ~PacingTimer() = default;
  // The step run at every tick; an empty function makes ticks do nothing.
  virtual void SetPacingTick(std::function<void()> tick) = 0;
  // Runs the ticks from now on (arming an armed timer changes nothing).
  virtual void ArmPacing() = 0;
  // The engine calls it once its countdown has run out and no block is pending.
  virtual void DisarmPacing() = 0;
};

}  // namespace ui
