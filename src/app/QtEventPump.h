// The window program's event pump and the receive loop's idle wait on Qt. A pass of the
// loop that finds nothing to do sleeps in Qt's own wait for events; MIDI input wakes
// that wait through a small bridge thread, since nothing of Qt but the dispatcher's
// wake-up may be touched from the MIDI layer's threads.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/ByteRing.h"
#include "roles/EventPump.h"
#include "session/ReceiveLoop.h"

class QAbstractEventDispatcher;

namespace app {

// The long routines pump once per byte or character, some hundred thousand times for one
// Add to a long list, and a Qt event pass costs over a microsecond even with nothing to
// do (and repaints what changed when there is). So PumpEvents processes events at most
// once per interval of steady-clock time and otherwise only reads the clock. At 2 ms no
// click, key or repaint waits noticeably longer, a due timer runs at the next pass, and
// what is pending is processed in Qt's own order, so handlers run in the same order as
// before. The first pump after a quiet spell always processes. WaitForEvents always
// processes, since its callers (the Send's pause among them, which Timer3 ends) wait for
// exactly what it delivers. An interval of zero processes at every call.
class QtEventPump final : public roles::EventPump {
 public:
  static constexpr std::chrono::microseconds kDefaultInterval{2000};

  explicit QtEventPump(std::chrono::microseconds interval = kDefaultInterval) : interval_(interval) {}

  void PumpEvents() override;
  void WaitForEvents() override;

 private:
  std::chrono::microseconds interval_;
  std::chrono::steady_clock::time_point due_{};  // no processing before this, unless waiting
};

// Bridge design: the MIDI system's thread notifies the layer's waker whenever it
// stored input (it never blocks); the bridge thread is that waker's only sleeper, and
// on each notification it calls the user-interface thread's dispatcher wakeUp(), which
// is thread-safe and, once called, makes the next or current wait return. So no input
// that arrives between the loop's last look and its sleep is left waiting.
class QtIdleWait final : public session::IdleWait {
 public:
  QtIdleWait(midi::Waker& arrived, roles::EventPump& pump);
  ~QtIdleWait() override;
  QtIdleWait(const QtIdleWait&) = delete;
  QtIdleWait& operator=(const QtIdleWait&) = delete;

  void WaitForInput() override;

 private:
  void Bridge();

  midi::Waker& arrived_;
  roles::EventPump& pump_;
  QAbstractEventDispatcher* dispatcher_;  // of the user-interface thread
  std::atomic<bool> stop_{false};
  std::thread bridge_;
};

}  // namespace app
