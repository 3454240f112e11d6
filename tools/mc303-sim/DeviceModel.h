// The receive side of the simulated MC-303: what happens to the bytes of a bulk load
// sent to it. Bytes cross a modelled MIDI cable (3125 bytes/s), enter a receive buffer
// of limited size that the device empties at a limited rate while it stores the data,
// and go through a SysEx framer and the device's checksum test. A byte that finds the
// buffer full is lost; a lost byte or a wrong checksum is a receive error ("RCV ERR").
// Checked messages replace the bank's parts (see PartAssembler).
//
// Time is passed in by the caller (microseconds on any steady clock), so tests run the
// model on a clock of their own. Single-threaded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Bank.h"
#include "SysexFramer.h"

namespace mc303sim {

using Micros = std::chrono::microseconds;

// One byte on a MIDI cable: ten bits at 31250 baud.
inline constexpr Micros kWireByteTime{320};
// A load is over when nothing has arrived for this long and the buffer is empty. The
// librarian pauses 200 ms between blocks, so its pauses never end a load.
inline constexpr Micros kLoadEndQuiet{1'000'000};

// The defaults are chosen around the librarian's pacing: it hands over blocks cut at a
// message end once they hold more than 139 bytes and pauses 200 ms after each. With
// messages of up to 140 bytes a block holds at most 139 + 140 = 279 bytes, so the
// pacing never asks for more than 279 bytes per 200 ms, about 1400 bytes/s (the example
// bank averages 770). A drain of 1600 bytes/s stays above that even when the MIDI
// system delivers a block a period (some 20 ms) early, and a buffer of 512 bytes holds
// two blocks delivered at once. Unpaced, bytes come at the full 3125 bytes/s and the
// buffer fills at 1525 bytes/s: full after about a kilobyte. Blocks of 400 bytes or
// more overrun it even with the 200 ms pause.
inline constexpr int kDefaultBufferBytes = 512;
inline constexpr int kDefaultDrainBytesPerSecond = 1600;

struct ReceiveLimits {
  int bufferBytes = kDefaultBufferBytes;  // at least 1
  int drainBytesPerSecond = kDefaultDrainBytesPerSecond;  // at least 1
};

enum class RcvErrKind { Overflow, BadChecksum };

struct RcvErr {
  RcvErrKind kind = RcvErrKind::Overflow;
  std::optional<std::uint32_t> address;  // when the message's address had arrived
};

struct LoadSummary {
  std::uint64_t bytes = 0;      // bytes that reached the device, real-time bytes aside
  std::uint64_t lostBytes = 0;  // of those, bytes that found the buffer full
  int messages = 0;             // complete SysEx messages taken in
  int storedMessages = 0;
  std::vector<PartAddress> stored;  // parts that replaced the bank's, in arrival order
  int droppedParts = 0;             // parts not stored because an error may have hit them
  int overflows = 0;                // at most one per message
  int badChecksums = 0;
  int ignored = 0;  // no MC-303 data set, or an address outside the user patterns
  int brokenOff = 0;  // messages the sender ended before their 0xF7
  int RcvErrors() const { return overflows + badChecksums; }
};

class DeviceModel {
 public:
  DeviceModel(Bank& bank, ReceiveLimits limits);

  // Bytes that the MIDI system delivered at `arrival`; arrivals never go back in time.
  void Receive(const std::uint8_t* bytes, std::size_t count, Micros arrival);
  // The summary of a load once it is over, else nullopt.
  std::optional<LoadSummary> Poll(Micros now);
  // Ends the load under way at once (the simulator is closing); nullopt when none is.
  std::optional<LoadSummary> EndLoad();

  void SetErrorObserver(std::function<void(const RcvErr&)> observer) { observer_ = std::move(observer); }
  double BufferedBytes(Micros now) const;
  std::uint64_t TotalRcvErrors() const { return totalRcvErrors_; }

 private:
  void Drain(Micros t);
  void Take(std::uint8_t byte);
  void Lose(std::uint8_t byte);
  void BreakOff();
  // Drops the message under way and charges the error to its part; its address when known.
  std::optional<std::uint32_t> GiveUpMessage();
  void Complete(const Bytes& message);
  void Report(RcvErrKind kind, std::optional<std::uint32_t> address);

  ReceiveLimits limits_;
  SysexFramer framer_;
  PartAssembler assembler_;
  // Buffer fill in millionths of a byte, so that a drain over any number of
  // microseconds is exact in integers.
  std::int64_t fillMicroBytes_ = 0;
  Micros drainedTo_{0};
  Micros wireFree_{0};   // when the modelled cable is free for the next byte
  Micros lastByte_{0};
  bool loadActive_ = false;
  bool lossCounted_ = false;  // the message under way has had its overflow counted
  LoadSummary load_;
  std::uint64_t totalRcvErrors_ = 0;
  std::function<void(const RcvErr&)> observer_;
};

}  // namespace mc303sim
