// What the start-up routine and the main window's load know of the title window: how
// many of its ten 100 ms ticks are left and whether it has gone. One instance, owned by
// the program; written by the title window only.
#pragma once

#include <cstdint>

namespace session {

inline constexpr std::int16_t kTitleTicks = 10;

struct TitleState {
  bool TitleDismissed = false;
  std::int16_t TitleCountdown = 0;
};

}  // namespace session
