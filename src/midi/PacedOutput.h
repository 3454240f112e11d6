// The sending side of one output port: long messages are copied in when handed over
// (so the caller's buffer is free at once) and leave for the MIDI system one after the
// other, on a thread of their own, no faster than a MIDI line carries them. Each goes
// when the line would be free: a backend queue never holds more than about one
// message, so a backend that drops what does not fit (RtMidi's JACK output does,
// silently) never has to, and a block is never overwritten before it has left.
//
// Threads: Send, TakeFailure and Finish on the user-interface thread; the sink runs on
// the sender thread only. Every byte that the sink refuses, or that is still queued
// when Finish gives up, is counted in LostBytes and reported once by TakeFailure.
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

// The pieces [begin, end) in which a message of `size` bytes goes to a MIDI system that
// takes at most maxPieceBytes at once. No piece but the last ends in 0xF7, so that a
// receiver that joins the parts of a System Exclusive message until its 0xF7 (as JACK
// clients do) sees the block as one message again.
std::vector<std::pair<std::size_t, std::size_t>> SplitIntoPieces(const std::uint8_t* data, std::size_t size,
                                                                 std::size_t maxPieceBytes);

class PacedOutput {
 public:
  // Hands one piece to the MIDI system; false when the system refused it.
  using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

  PacedOutput(Sink sink, std::size_t maxPieceBytes, std::chrono::nanoseconds wireTimePerByte = kWireTimePerByte);
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
  const std::size_t maxPieceBytes_;
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
