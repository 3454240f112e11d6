// The sending side of one RtMidi output port: blocks are copied in and leave for the
// MIDI system one after the other on a sender thread, no faster than a MIDI line
// carries them, so a backend queue never holds more than about one. Every byte the
// sink refuses, or still queued when Finish gives up, is counted in LostBytes and
// reported once by TakeFailure.
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
  ~PacedOutput();  // waits for everything queued to leave

  void Send(const std::uint8_t* data, std::size_t size);
  bool TakeFailure();  // true once for every loss since the last call
  // Lets everything queued leave, then ends the sender thread: true when it has. After
  // the queue's wire time plus grace the rest is counted lost and false comes back; the
  // sender may then still be inside the sink, so the owner must keep both alive.
  bool Finish(std::chrono::milliseconds grace);

  std::uint64_t LostBytes() const;
  std::chrono::nanoseconds DrainTime() const;  // until what was handed over has left

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  Clock::duration Wire(std::size_t bytes) const { return std::chrono::duration_cast<Clock::duration>(perByte_ * bytes); }

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
  Clock::time_point drainedAt_{};
  std::thread sender_;  // last: starts once everything above exists
};

}  // namespace midi
