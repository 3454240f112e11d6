// The receive loop: the program's outermost activity while it runs, in the window
// program and in the capture command alike. Each pass pumps window events three times,
// takes at most one returned input buffer (its bytes go to ReceivedQueue and the
// buffer goes back to the selected input port), shows and parses at most one received
// byte, and shows at most one short event. A pass with nothing to do flushes the
// output log and sleeps until the MIDI callback wakes it.
// Runs on the user-interface thread; the rings are its only link to the MIDI thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>

#include "mc303/SharedFlags.h"
#include "mc303/SysexParser.h"
#include "midi/InputBufferPool.h"
#include "midi/InputRings.h"
#include "midi/MidiDevices.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace session {

// How the loop sleeps when a pass found nothing to do. The window program waits for
// its own events as well; the capture command waits for MIDI input only.
class IdleWait {
 public:
  virtual ~IdleWait() = default;
  virtual void WaitForInput() = 0;
};

// Sleeps until the MIDI callback stores something, or the timeout passes so that the
// caller's own stop conditions are looked at again.
class RingIdleWait final : public IdleWait {
 public:
  RingIdleWait(midi::InputRings& rings, std::chrono::milliseconds timeout) : rings_(rings), timeout_(timeout) {}
  void WaitForInput() override { rings_.wake.WaitFor(timeout_); }

 private:
  midi::InputRings& rings_;
  std::chrono::milliseconds timeout_;
};

struct ReceiveLoopParts {
  mc303::SharedFlags& flags;
  midi::InputRings& rings;
  midi::InputBufferPool& pool;
  midi::DeviceState& devices;
  roles::EventPump& pump;
  roles::TextBox& tTraffic;
  mc303::MC303Parse& parse;
  roles::Dialogs& dialogs;
  IdleWait& idle;
};

class ReceiveLoop {
 public:
  enum class Pass { Worked, Idle, Quit };

  explicit ReceiveLoop(const ReceiveLoopParts& parts) : p_(parts) {}
  ReceiveLoop(const ReceiveLoop&) = delete;
  ReceiveLoop& operator=(const ReceiveLoop&) = delete;

  // One pass; Quit when QuitRequested was set as it began.
  Pass RunPass();
  // Passes until QuitRequested is set.
  void Run();

  // Received SysEx bytes not yet shown and parsed, oldest first.
  const std::deque<std::uint8_t>& ReceivedQueue() const { return receivedQueue_; }

 private:
  void TakeReturnedBuffer(midi::MidiHdr* reference);

  ReceiveLoopParts p_;
  std::deque<std::uint8_t> receivedQueue_;
  // One byte more than a buffer, as the unpacking's work area always had.
  std::array<std::uint8_t, midi::kPoolBufferBytes + 1> workArea_{};
};

}  // namespace session
