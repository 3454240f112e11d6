// The pacing countdown that the main window's Timer3 runs and the transmit engine
// waits on: Send arms it with the pause in milliseconds before each paced block, and
// every tick of Timer3 takes off the milliseconds that really passed since the tick
// before, whatever the timer's actual rate. All on the user-interface thread.
//
// States: idle (PaceCount 0 or less, PaceStarted false); armed (PaceCount set, no
// tick yet); running (the first tick has stored PaceTick); run out (PaceCount 0 while
// PaceStarted is still true; the next tick makes it idle).
#pragma once

#include <cstdint>

namespace transmit {

struct PacingCountdown {
  std::int16_t PaceCount = 0;     // milliseconds still to wait
  bool PaceStarted = false;       // a tick has started the current countdown
  std::uint32_t PaceTick = 0;     // the clock at the last tick of a running countdown

  // One tick of Timer3. The first tick of a countdown only takes 1 off it, so a
  // countdown of 200 runs out at the first tick 199 ms or more after its first tick.
  void Tick(std::uint32_t nowMs) {
    if (PaceCount <= 0) {
      PaceStarted = false;
      return;
    }
    if (!PaceStarted) {
      PaceStarted = true;
      PaceTick = nowMs;
      --PaceCount;
      return;
    }
    // Unsigned difference: the clock wraps round after 49.7 days, and a tick across
    // the wrap must still count the few milliseconds that passed.
    const std::uint32_t elapsed = nowMs - PaceTick;
    PaceTick = nowMs;
    if (static_cast<std::uint32_t>(PaceCount) > elapsed) {
      PaceCount = static_cast<std::int16_t>(PaceCount - static_cast<std::int16_t>(elapsed));
    } else {
      PaceCount = 0;
    }
  }

  // Nothing left for Timer3 to do: the window may stop its timer until Send switches
  // it on again, so that an idle program does not wake a thousand times a second.
  bool Idle() const { return PaceCount <= 0 && !PaceStarted; }
};

}  // namespace transmit
