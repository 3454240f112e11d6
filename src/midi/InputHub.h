// The input side that every MIDI layer shares: the queue of buffers each open input
// port was given, the received messages still waiting for a buffer, and the hand-over
// of both to the port's callback. A backend feeds it complete messages from its
// delivery thread (never a realtime thread: this may allocate and lock) and calls
// DeliverAll() there, so callbacks never run on the user-interface thread.
//
// Guarantees the receive loop relies on:
//  - Every message is handed over in arrival order, short messages and System Exclusive
//    alike; SysEx bytes fill the queued buffers in order, a buffer being returned when
//    its message ends or when it is full.
//  - Bytes that arrive while no buffer is queued wait here (in order, up to a generous
//    limit, past which they are counted as lost) until buffers are added again.
//  - A header is never in two queues and never returned twice; one withdrawn by
//    unprepare, reset or close is no longer touched, and after Close no callback for
//    that port runs.
//  - kMhdrDone is set on a header only when it is returned through the callback.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "midi/MidiPorts.h"

namespace midi {

class InputHub {
 public:
  // A stopped port's backlog is kept; past this many waiting bytes a port loses input.
  static constexpr std::size_t kMaxBacklogBytes = 16u << 20;

  // wake: asks the backend's delivery thread to run DeliverAll() soon.
  explicit InputHub(std::function<void()> wake) : wake_(std::move(wake)) {}

  // User-interface thread.
  void Open(PortHandle port, InputCallback callback, std::uintptr_t instance);
  [[nodiscard]] bool IsOpen(PortHandle port) const;
  MidiResult Prepare(PortHandle port, MidiHdr* header, std::uint32_t size);
  MidiResult AddBuffer(PortHandle port, MidiHdr* header, std::uint32_t size);
  MidiResult Unprepare(PortHandle port, MidiHdr* header, std::uint32_t size);
  MidiResult Start(PortHandle port);
  MidiResult Stop(PortHandle port);
  // Withdraws every queued buffer without returning it and forgets waiting input.
  MidiResult Reset(PortHandle port);
  MidiResult Close(PortHandle port);

  // Delivery thread. Receive takes one complete message: a short message (up to three
  // bytes, not starting with 0xF0) or a System Exclusive message. A stopped port
  // ignores input, as a port that is not started receives nothing.
  void Receive(PortHandle port, const std::uint8_t* bytes, std::size_t count);
  void DeliverAll();

  // Any thread.
  [[nodiscard]] bool BacklogEmpty() const;
  [[nodiscard]] std::size_t QueuedBuffers(PortHandle port) const;
  std::uint64_t LostBytes() const;

 private:
  struct Pending {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;  // SysEx bytes already placed in buffers
    bool sysex = false;
  };
  struct Port {
    InputCallback callback = nullptr;
    std::uintptr_t instance = 0;
    bool started = false;
    std::deque<MidiHdr*> queue;
    std::deque<Pending> backlog;
    std::size_t backlogBytes = 0;
  };

  Port* Find(PortHandle port);
  void Deliver(PortHandle handle, Port& port);
  static void Withdraw(Port& port);

  std::function<void()> wake_;
  mutable std::mutex mutex_;  // one for all ports: a header's queue membership is global
  std::map<PortHandle, Port> ports_;
  std::uint64_t lostBytes_ = 0;
};

}  // namespace midi
