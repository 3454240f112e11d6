// What the simulated MC-303 puts on its MIDI OUT, and when: the bulk dump at wire speed
// (each message leaves once its last byte would have crossed a 31250-baud cable, since
// a virtual port would otherwise deliver the whole dump at once) and active sensing
// (0xFE) after every 300 ms of silence, as the device keeps its line alive.
// Time is passed in, as in DeviceModel. Single-threaded.
#pragma once

#include <cstddef>
#include <vector>

#include "DeviceModel.h"

namespace mc303sim {

inline constexpr Micros kActiveSensingQuiet{300'000};

class LineOutput {
 public:
  explicit LineOutput(Micros now) : lastSent_(now) {}

  // False (and nothing changes) while a dump is still going out. speed: times wire speed.
  bool StartDump(const Bytes& dump, Micros now, double speed = 1);
  // The messages due by `now`, in order; each is one MIDI event for the port.
  std::vector<Bytes> Due(Micros now);
  bool Dumping() const { return next_ < messages_.size(); }
  std::size_t DumpBytes() const { return dumpBytes_; }
  std::size_t DumpMessages() const { return messages_.size(); }

 private:
  struct Scheduled {
    Bytes bytes;
    Micros due;
  };
  std::vector<Scheduled> messages_;
  std::size_t next_ = 0;
  std::size_t dumpBytes_ = 0;
  Micros lastSent_;
};

}  // namespace mc303sim
