// PumpEvents: processes every pending window event and timer tick, then returns. Long
// routines call it between bytes or characters so the windows stay live; handlers of
// clicks and timers therefore run nested inside those calls.
#pragma once

namespace roles {

class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void PumpEvents() = 0;
  // For loops that only wait for something a handler or a timer will change: processes
  // what is pending and, when nothing was, sleeps until the next event arrives, so the
  // wait costs no CPU. Without a window system there is nothing to sleep on.
  virtual void WaitForEvents() { PumpEvents(); }
};

// For the command-line front end, which has no window events to process.
class NoEventPump final : public EventPump {
 public:
  void PumpEvents() override {}
};

}  // namespace roles
