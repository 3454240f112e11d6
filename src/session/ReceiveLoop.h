// The receive loop: the program's outermost activity while it runs, in the window
// program and in the capture command alike. Each pass pumps window events three times,
// takes what the chosen input port received (System Exclusive bytes to ReceivedQueue,
// the status byte of every other message to the short events), shows and parses at
// most one received SysEx byte, and shows at most one short event. A pass with nothing
// to do flushes the output log and sleeps until input arrives.
// Runs on the user-interface thread; the input port's ring is its only link to the
// MIDI system's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "midi/DeviceSession.h"
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

// Sleeps until input arrives, or the timeout passes so that the caller's own stop
// conditions are looked at again.
class InputIdleWait final : public IdleWait {
 public:
  InputIdleWait(midi::Waker& arrived, std::chrono::milliseconds timeout) : arrived_(arrived), timeout_(timeout) {}
  void WaitForInput() override { arrived_.WaitFor(timeout_); }

 private:
  midi::Waker& arrived_;
  std::chrono::milliseconds timeout_;
};

struct ReceiveLoopParts {
  mc303::SharedFlags& flags;
  midi::DeviceSession& devices;
  roles::EventPump& pump;
  roles::TextBox& trafficBox;
  mc303::SysexIntake& parse;
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
  void Sort(const std::uint8_t* bytes, std::size_t count);

  ReceiveLoopParts p_;
  std::deque<std::uint8_t> receivedQueue_;
  std::deque<std::uint8_t> shortEvents_;
  // Bytes outside any message count as SysEx data, so that a capture begun in the
  // middle of a message keeps what it got of it.
  bool inSysex_ = true;
};

}  // namespace session
