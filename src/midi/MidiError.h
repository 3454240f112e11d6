// ShowMidiError: the notice for a failed MIDI operation, worded by the layer's own text
// for the code. Used by the transmit engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"

namespace midi {

// code is the 16-bit value callers keep; 0 shows nothing. The notice reads the
// operation name, ": " and the layer's text (at most 160 characters, up to its first
// NUL), or "Unknown error" when the layer has none.
void ShowMidiError(std::int16_t code, std::string_view operationName, MidiPorts& ports, roles::Dialogs& dialogs);

}  // namespace midi
