// The sending side of one RtMidi output port: blocks are copied in when handed over and
// leave for the MIDI system one after the other, on a thread of their own, no faster
// than a MIDI line carries them, so a backend queue never holds more than about one.
// Send, TakeFailure and Finish run on the user-interface thread, the sink on the sender
// thread. Every byte the sink refuses, or still queued when Finish gives up, is counted
// in LostBytes and reported once by TakeFailure.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace midi {

// 31250 baud and ten bits a byte (start bit, eight data bits, stop bit).
inline constexpr std::chrono::microseconds kWireTimePerByte{320};

// The next part of a block, of which `left` bytes are still to go (at(i) gives them),
// for a MIDI system that takes `room` bytes now. No part but the block's last ends in
// 0xF7, so a receiver that joins a SysEx message's parts until its 0xF7 (as JACK
// clients do) sees the block as one: a part is cut short before such an 0xF7, and a
// lone 0xF7 waits (0) unless it would open a cycle (only 0xF7s cannot be helped).
template <typename ByteAt>
std::size_t PartLength(const ByteAt& at, std::size_t room, std::size_t left, bool firstOfCycle) {
  std::size_t n = room < left ? room : left;
  while (n > 1 && n < left && at(n - 1) == 0xF7) --n;
  return n == 0 || (n < left && at(n - 1) == 0xF7 && !firstOfCycle) ? 0 : n;
}

class PacedOutput {
 public:
  // Hands one message to the MIDI system; false when the system refused it.
  using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

  explicit PacedOutput(Sink sink, std::chrono::nanoseconds wireTimePerByte = kWireTimePerByte);
  // Waits for everything queued to leave (see Finish).
  ~PacedOutput();
  PacedOutput(const PacedOutput&) = delete;
  PacedOutput& operator=(const PacedOutput&) = delete;

  void Send(const std::uint8_t* data, std::size_t size);
  // True once for every loss since the last call.
  bool TakeFailure();
  // Lets everything queued leave, then ends the sender thread: true when it has. When
  // the MIDI system takes nothing for the queued messages' wire time plus grace, the
  // rest is counted as lost and false comes back; the sender may then still be inside
  // the sink, so the owner must keep this object (and the sink's target) alive.
  bool Finish(std::chrono::milliseconds grace);

  std::uint64_t LostBytes() const;
  // How long what was handed over so far still takes to leave, at the line's pace.
  std::chrono::nanoseconds DrainTime() const;

 private:
  void Run();

  Sink sink_;
  const std::chrono::nanoseconds perByte_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;   // the sender: something queued, or stop
  std::condition_variable idle_;   // Finish: the sender has ended
  std::deque<std::vector<std::uint8_t>> queue_;
  std::size_t queuedBytes_ = 0;
  bool stopping_ = false;
  bool ended_ = false;
  bool failed_ = false;
  std::uint64_t lostBytes_ = 0;
  // When the last byte handed over will have left, reckoned as the sender paces it.
  std::chrono::steady_clock::time_point drainedAt_{};
  std::thread sender_;  // last: starts once everything above exists
};

}  // namespace midi
