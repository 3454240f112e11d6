// The window program's event pump and the receive loop's idle wait on Qt. A pass of the
// loop that finds nothing to do sleeps in Qt's own wait for events; MIDI input wakes
// that wait through a small bridge thread, since nothing of Qt but the dispatcher's
// wake-up may be touched from the MIDI layer's threads.
#pragma once

#include <atomic>
#include <thread>

#include "app/ReceiveLoop.h"
#include "midi/InputRings.h"
#include "ui/EventPump.h"

class QAbstractEventDispatcher;

namespace app {

class QtEventPump final : public ui::EventPump {
 public:
  void PumpEvents() override;
  void WaitForEvents() override;
};

// Bridge design: the MIDI callback notifies rings.wake after every stored entry (it
// never blocks); the bridge thread is that waker's only sleeper, and on each
// notification with something in the rings it calls the user-interface thread's
// dispatcher wakeUp(), which is thread-safe and, once called, makes the next or
// current wait return. So no notification between the loop's empty check and its
// sleep is lost.
class QtIdleWait final : public IdleWait {
 public:
  QtIdleWait(midi::InputRings& rings, ui::EventPump& pump);
  ~QtIdleWait() override;
  QtIdleWait(const QtIdleWait&) = delete;
  QtIdleWait& operator=(const QtIdleWait&) = delete;

  void WaitForInput() override;

 private:
  void Bridge();

  midi::InputRings& rings_;
  ui::EventPump& pump_;
  QAbstractEventDispatcher* dispatcher_;  // of the user-interface thread
  std::atomic<bool> stop_{false};
  std::thread bridge_;
};

}  // namespace app
