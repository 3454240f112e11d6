// Timer3, the 1 ms timer that paces a Send: the transmit engine switches it on before
// every paced block, and each tick steps the pacing countdown by the milliseconds that
// really passed. Each implementation stops ticking once the countdown is idle, so a
// program with nothing to send is not woken a thousand times a second. The window's
// runs on a QTimer, the command line's on the steady clock, the tests' on a fake one.
#pragma once

namespace roles {

class Timer3 {
 public:
  virtual ~Timer3() = default;
  // Ticks from now on; switching on a running timer changes nothing.
  virtual void SwitchOn() = 0;
};

}  // namespace roles
