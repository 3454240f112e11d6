#include "platform/WordWait.h"

#include "System.h"

#if VZ_LINUX
#include <linux/futex.h>
#include <sys/syscall.h>

#include <ctime>
#else
#include <thread>
#endif

namespace platform {

#if VZ_LINUX

void WaitWhileWordIs(std::atomic<std::uint32_t>& word, std::uint32_t value, std::chrono::milliseconds timeout) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "futex needs a plain 32-bit word");
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  ts.tv_nsec = static_cast<long>((timeout.count() % 1000) * 1000000);
  // Sleeps only while the word still holds value, so a wake between the caller's last
  // look and this call is not missed.
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, &ts, nullptr, 0);
}

void WakeWordWaiter(std::atomic<std::uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

#else

void WaitWhileWordIs(std::atomic<std::uint32_t>& word, std::uint32_t value, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (word.load(std::memory_order_acquire) == value && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void WakeWordWaiter(std::atomic<std::uint32_t>&) {}

#endif

}  // namespace platform
