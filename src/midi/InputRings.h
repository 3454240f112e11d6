// The two rings that MidiInCallback fills on the MIDI thread and the receive loop
// drains on the user-interface thread, and the wake-up that lets the loop sleep while
// both are empty. One instance, owned by the program (or the capture command); the
// callback reaches it through the instance value it was registered with.
//
// LongDataRing: the headers of input buffers the layer has returned full. At most four
// buffers are ever out, so its 128 entries cannot fill.
// ShortEventRing: first parameters of short messages and other port notifications.
// It can fill while the loop is busy; a full ring refuses new entries and counts them
// (ShortEventsDropped) rather than overwriting unread ones. Each ring has its own
// positions, so trouble in one never touches the other.
#pragma once

#include <cstdint>

#include "midi/MidiPorts.h"
#include "midi/SpscRing.h"
#include "midi/Waker.h"

namespace midi {

inline constexpr std::uint32_t kTimingClock = 0xF8;

struct InputRings {
  SpscRing<MidiHdr*, 128> LongDataRing;
  SpscRing<std::uint32_t, 64> ShortEventRing;
  Waker wake;  // notified after every stored entry

  bool Empty() const { return LongDataRing.Empty() && ShortEventRing.Empty(); }
  std::uint64_t ShortEventsDropped() const { return ShortEventRing.Dropped(); }
  std::uint64_t LongDataDropped() const { return LongDataRing.Dropped(); }
};

// Registered with every input port, with instance = the address of the InputRings.
// Runs on the layer's thread; stores and wakes, nothing else.
void MidiInCallback(PortHandle port, std::uint32_t message, std::uintptr_t instance, std::uintptr_t param1,
                    std::uintptr_t param2);

inline std::uintptr_t CallbackInstance(InputRings& rings) { return reinterpret_cast<std::uintptr_t>(&rings); }

}  // namespace midi
