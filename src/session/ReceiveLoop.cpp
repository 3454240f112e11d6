#include "session/ReceiveLoop.h"

#include <cstring>
#include <string>

#include "roles/AppendTraffic.h"
#include "roles/HexByte.h"

namespace session {
namespace {

void ShowByte(roles::TextBox& tTraffic, std::uint32_t value) {
  char text[3] = {0, 0, ' '};
  roles::HexByteInto(static_cast<std::int32_t>(value & 0xFFu), text);
  roles::AppendTraffic(tTraffic, std::string_view(text, 3));
}

}  // namespace

void ReceiveLoop::TakeReturnedBuffer(midi::MidiHdr* reference) {
  midi::MidiHdr copy;
  std::memcpy(&copy, reference, sizeof copy);
  const int b = p_.pool.FindBufferByData(copy.lpData);
  if (b < 0) return;  // not one of ours
  p_.pool.MarkReturned(b);

  const std::uint32_t n = p_.pool.Header(b)->dwBytesRecorded;
  if (n == 0) {
    receivedQueue_.push_back(0xF0);
  } else if (n > midi::kPoolBufferBytes) {
    p_.dialogs.MessageBox("Illegal " + std::to_string(n) + " Received?!?", roles::Buttons::Ok);
  } else {
    // Copied out first: a device change run by the pumping below may move the other
    // buffers, and this one must not change under the unpacking.
    std::memcpy(workArea_.data(), p_.pool.Buffer(b).header.lpData, n);
    for (std::uint32_t i = 0; i < n; ++i) {
      p_.pump.PumpEvents();
      receivedQueue_.push_back(workArea_[i]);
    }
  }
  // To the port selected now, which a handler run above may have changed.
  p_.pool.RecycleBuffer(b, p_.devices.SelectedInputHandle());
}

ReceiveLoop::Pass ReceiveLoop::RunPass() {
  if (p_.flags.QuitRequested) return Pass::Quit;
  bool worked = false;
  p_.pump.PumpEvents();

  midi::MidiHdr* reference = nullptr;
  if (p_.rings.LongDataRing.Pop(reference)) {
    worked = true;
    TakeReturnedBuffer(reference);
  }
  p_.pump.PumpEvents();

  if (!receivedQueue_.empty()) {
    worked = true;
    const std::uint8_t b = receivedQueue_.front();
    receivedQueue_.pop_front();
    ShowByte(p_.tTraffic, b);
    (void)p_.parse.ParseMidiByte(b, true);  // the parser reports bad messages itself
  }
  p_.pump.PumpEvents();

  std::uint32_t v = 0;
  if (p_.rings.ShortEventRing.Pop(v)) {
    worked = true;
    if (v != midi::kTimingClock) ShowByte(p_.tTraffic, v);
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
