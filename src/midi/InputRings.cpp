#include "midi/InputRings.h"

namespace midi {

void MidiInCallback(PortHandle, std::uint32_t message, std::uintptr_t instance, std::uintptr_t param1,
                    std::uintptr_t) {
  auto& rings = *reinterpret_cast<InputRings*>(instance);
  if (message == kMimLongData) {
    rings.LongDataRing.Push(reinterpret_cast<MidiHdr*>(param1));
  } else {
    // Timing clock would flood the ring and is never shown; other notifications keep
    // their first parameter whatever it is (an error-returned buffer shows as the low
    // byte of its address).
    if (message == kMimData && param1 == kTimingClock) return;
    rings.ShortEventRing.Push(static_cast<std::uint32_t>(param1));
  }
  rings.wake.Notify();
}

}  // namespace midi
