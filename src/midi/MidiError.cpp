#include "midi/MidiError.h"

namespace midi {

void ShowMidiError(std::int16_t code, std::string_view operationName, MidiPorts& ports, roles::Dialogs& dialogs) {
  if (code == 0) return;
  // Codes are kept in 16 bits by the callers; the layer numbers them unsigned.
  std::string text = ports.ErrorText(static_cast<MidiResult>(static_cast<std::uint16_t>(code)));
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.size() > 160) text.resize(160);
  if (text.empty()) text = "Unknown error";
  std::string notice(operationName);
  notice += ": ";
  notice += text;
  dialogs.MessageBox(notice, roles::Buttons::Ok);
}

std::string StandardErrorText(MidiResult code) {
  switch (code) {
    case kErrBadDeviceId: return "The specified device identifier is out of range.";
    case kErrAllocated: return "The specified resource is already allocated.";
    case kErrInvalidHandle: return "The specified device handle is invalid.";
    case kErrNoDriver: return "The MIDI system refused the request.";
    case kErrNoMemory: return "Unable to allocate or lock memory.";
    case kErrInvalidParam: return "An invalid parameter was passed.";
    case kErrUnprepared: return "The header was not prepared.";
    case kErrStillPlaying: return "The buffer is still in the queue.";
    case kErrNotReady: return "The hardware is busy.";
    case kErrOutputLost: return "Data sent earlier did not reach the MIDI system.";
    default: return {};
  }
}

}  // namespace midi
