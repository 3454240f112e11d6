// An event pump for tests: counts its calls and can run a test's handler inside one,
// the way a click handler runs nested inside the program's event processing.
#pragma once

#include <functional>

#include "roles/EventPump.h"

class CountingPump final : public roles::EventPump {
 public:
  void PumpEvents() override {
    ++calls;
    if (onPump) onPump();
  }
  long calls = 0;
  std::function<void()> onPump;
};
