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

}  // namespace midi
