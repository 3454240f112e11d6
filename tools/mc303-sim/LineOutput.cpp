#include "LineOutput.h"

#include <algorithm>

namespace mc303sim {

bool LineOutput::StartDump(const Bytes& dump, Micros now, double speed) {
  if (Dumping()) return false;
  messages_.clear();
  next_ = 0;
  dumpBytes_ = dump.size();
  // The dump follows whatever is still on the line. Due times count from its start, so
  // that rounding at a high speed cannot add up.
  const Micros start = std::max(now, lastSent_);
  std::size_t i = 0;
  while (i < dump.size()) {
    std::size_t end = i + 1;
    if (dump[i] == 0xF0) {
      while (end < dump.size() && dump[end - 1] != 0xF7) ++end;
    }
    const auto first = dump.begin() + static_cast<std::ptrdiff_t>(i);
    const auto wire = static_cast<double>(kWireByteTime.count()) * static_cast<double>(end) / speed;
    messages_.push_back({Bytes(first, first + static_cast<std::ptrdiff_t>(end - i)), start + Micros(static_cast<Micros::rep>(wire))});
    i = end;
  }
  return true;
}

std::vector<Bytes> LineOutput::Due(Micros now) {
  std::vector<Bytes> due;
  while (next_ < messages_.size() && messages_[next_].due <= now) {
    lastSent_ = messages_[next_].due;
    due.push_back(std::move(messages_[next_].bytes));
    ++next_;
  }
  // Never in the batch that ends a dump: a batch is either dump or sensing.
  if (!Dumping() && due.empty() && now - lastSent_ >= kActiveSensingQuiet) {
    due.push_back({0xFE});
    lastSent_ = now;
  }
  return due;
}

}  // namespace mc303sim
