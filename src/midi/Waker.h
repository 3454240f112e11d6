// A wake-up signal from a MIDI thread to a thread that sleeps while it has nothing to
// do: the receive loop waiting for input, the RtMidi backend's delivery thread waiting
// for bytes. Notify() may be called on a realtime thread: it is one atomic exchange
// and, only when the sleeper may be waiting, one futex wake; no lock, no allocation.
// One thread waits; any number of threads notify.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#endif

namespace midi {

class Waker {
 public:
  void Notify() {
    if (pending_.exchange(1, std::memory_order_release) == 0) WakeOne();
  }

  // Returns at once when notified since the last wait, else sleeps until a Notify or
  // the timeout. A signal delivered to the thread may end the wait early.
  void WaitFor(std::chrono::milliseconds timeout) {
    if (pending_.exchange(0, std::memory_order_acquire) != 0) return;
#if defined(__linux__)
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    ts.tv_nsec = static_cast<long>((timeout.count() % 1000) * 1000000);
    // Sleeps only while pending_ is still 0, so a Notify between the exchange above
    // and this call is not missed.
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&pending_), FUTEX_WAIT_PRIVATE, 0u, &ts, nullptr, 0);
    pending_.exchange(0, std::memory_order_acquire);
#else
    // Without futexes: short naps, so a notification is seen within a millisecond.
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (pending_.exchange(0, std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#endif
  }

 private:
  void WakeOne() {
#if defined(__linux__)
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&pending_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#endif
  }

  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "futex needs a plain 32-bit word");
  std::atomic<std::uint32_t> pending_{0};
};

}  // namespace midi
