// The millisecond clock the pacing countdown reads: a steady count of milliseconds
// that wraps round at 2^32, as the system tick count the program was first written
// for does. The window and the command line read SteadyClock; tests turn a fake one.
#pragma once

#include <chrono>
#include <cstdint>

namespace roles {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t NowMs() = 0;
};

// Never jumps with the wall clock, so a pause cannot end early or last for ever when
// the user or the network changes the time of day.
class SteadyClock final : public Clock {
 public:
  std::uint32_t NowMs() override {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
  }
};

}  // namespace roles
