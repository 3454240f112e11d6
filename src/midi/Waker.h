// A wake-up from a MIDI thread to the receive loop sleeping while it has nothing to do.
// Notify() may run on a realtime thread: one atomic exchange and, only when the sleeper
// may be waiting, one wake (a futex on Linux); no lock, no allocation. One thread
// waits; any number notify.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/Platform.h"

namespace midi {

class Waker {
 public:
  void Notify() {
    if (pending_.exchange(1, std::memory_order_release) == 0) WakeOne();
  }

  // Returns at once when notified since the last wait, else sleeps until a Notify or
  // the timeout; true when notified. A signal delivered to the thread may end the wait
  // early.
  bool WaitFor(std::chrono::milliseconds timeout) {
    if (pending_.exchange(0, std::memory_order_acquire) != 0) return true;
    if (platform::WaitWhileWordIs(pending_, 0u, timeout)) return pending_.exchange(0, std::memory_order_acquire) != 0;
    // Without such a wait: short naps, so a notification is seen within a millisecond.
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
      if (pending_.exchange(0, std::memory_order_acquire) != 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

 private:
  void WakeOne() { platform::WakeWordWaiter(pending_); }

  std::atomic<std::uint32_t> pending_{0};
};

}  // namespace midi
