// PumpEvents: processes every pending window event and timer tick, then returns. Long
// routines call it between bytes or characters so the windows stay live; handlers of
// clicks and timers therefore run nested inside those calls.
#pragma once

namespace ui {

class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void PumpEvents() = 0;

  // For loops that have nothing to do until a timer ticks or the user acts (the
  // transmit engine's pause): sleeps until at least one event or tick is due, then
  // processes what is pending, so that such a loop does not keep a core busy. A pump
  // that cannot wait just pumps.
  virtual void WaitForEvents() { PumpEvents(); }
};

// For the command-line front end, which has no window events to process.
class NoEventPump final : public EventPump {
 public:
  void PumpEvents() override {}
};

}  // namespace ui
