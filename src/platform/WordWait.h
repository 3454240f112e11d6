// Sleeping until another thread, perhaps a realtime one, says so.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

// Sleeps while word holds value, until WakeWordWaiter(word), the timeout or a signal
// (a futex on Linux; elsewhere the word is looked at every millisecond). Waking takes
// no lock and allocates nothing, so a realtime thread may call it.
void WaitWhileWordIs(std::atomic<std::uint32_t>& word, std::uint32_t value, std::chrono::milliseconds timeout);
void WakeWordWaiter(std::atomic<std::uint32_t>& word);

}  // namespace platform
