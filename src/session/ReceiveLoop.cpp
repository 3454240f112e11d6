#include "session/ReceiveLoop.h"

#include <string>

#include "roles/AppendTraffic.h"
#include "roles/HexByte.h"

namespace session {
namespace {

constexpr std::uint8_t kTimingClock = 0xF8;

void ShowByte(roles::TextBox& trafficBox, std::uint8_t value) {
  char text[3] = {0, 0, ' '};
  roles::HexByteInto(value, text);
  roles::AppendTraffic(trafficBox, std::string_view(text, 3));
}

}  // namespace

// As a MIDI receiver takes the bytes: a real-time byte (0xF8 to 0xFF) stands on its
// own, even inside a message, and shows, but for the timing clock, which would flood
// the box; 0xF0 begins System Exclusive, whose bytes go to the parser; any other status
// byte begins a short message, of which only the status byte shows and nothing
// reaches the parser.
void ReceiveLoop::Sort(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    if (b >= 0xF8) {
      if (b != kTimingClock) shortEvents_.push_back(b);
      continue;
    }
    if (b == 0xF0 || b == 0xF7) {
      inSysex_ = true;
    } else if (b >= 0x80) {
      inSysex_ = false;
      shortEvents_.push_back(b);
      continue;
    }
    if (inSysex_) receivedQueue_.push_back(b);
  }
}

ReceiveLoop::Pass ReceiveLoop::RunPass() {
  if (p_.flags.QuitRequested) return Pass::Quit;
  bool worked = false;
  p_.pump.PumpEvents();

  std::uint8_t chunk[4096];
  if (const std::size_t n = p_.devices.Read(chunk, sizeof chunk); n > 0) {
    worked = true;
    Sort(chunk, n);
  }
  p_.pump.PumpEvents();

  if (!receivedQueue_.empty()) {
    worked = true;
    const std::uint8_t b = receivedQueue_.front();
    receivedQueue_.pop_front();
    ShowByte(p_.trafficBox, b);
    (void)p_.parse.ParseMidiByte(b, true);  // the parser reports bad messages itself
  }
  p_.pump.PumpEvents();

  if (!shortEvents_.empty()) {
    worked = true;
    ShowByte(p_.trafficBox, shortEvents_.front());
    shortEvents_.pop_front();
  }
  return worked ? Pass::Worked : Pass::Idle;
}

void ReceiveLoop::Run() {
  for (;;) {
    const Pass pass = RunPass();
    if (pass == Pass::Quit) return;
    if (pass == Pass::Idle) {
      p_.parse.FlushOutfile();  // so the log is on disk while nothing arrives
      p_.idle.WaitForInput();
    }
  }
}

}  // namespace session
