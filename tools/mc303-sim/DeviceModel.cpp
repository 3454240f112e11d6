#include "DeviceModel.h"

#include <algorithm>

namespace mc303sim {
namespace {

constexpr std::int64_t kMicroBytes = 1'000'000;
constexpr std::size_t kAddressKnownBytes = 10;  // header and address

}  // namespace

DeviceModel::DeviceModel(Bank& bank, ReceiveLimits limits)
    : limits_{std::max(1, limits.bufferBytes), std::max(1, limits.drainBytesPerSecond)}, assembler_(bank) {}

void DeviceModel::Drain(Micros t) {
  if (t <= drainedTo_) return;
  fillMicroBytes_ = std::max<std::int64_t>(0, fillMicroBytes_ - (t - drainedTo_).count() * limits_.drainBytesPerSecond);
  drainedTo_ = t;
}

double DeviceModel::BufferedBytes(Micros now) const {
  const std::int64_t drained = now > drainedTo_ ? (now - drainedTo_).count() * limits_.drainBytesPerSecond : 0;
  return static_cast<double>(std::max<std::int64_t>(0, fillMicroBytes_ - drained)) / kMicroBytes;
}

void DeviceModel::Receive(const std::uint8_t* bytes, std::size_t count, Micros arrival) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    // A byte is in the device once its last bit has crossed the cable.
    const Micros landed = std::max(arrival, wireFree_) + kWireByteTime;
    wireFree_ = landed;
    // Real-time bytes (active sensing, clock) are handled as they arrive, unbuffered.
    if (b >= 0xF8) continue;
    loadActive_ = true;
    lastByte_ = landed;
    ++load_.bytes;
    if (b == 0xF0) lossCounted_ = false;
    Drain(landed);
    if (fillMicroBytes_ + kMicroBytes > static_cast<std::int64_t>(limits_.bufferBytes) * kMicroBytes) {
      Lose(b);
    } else {
      fillMicroBytes_ += kMicroBytes;
      Take(b);
    }
  }
}

void DeviceModel::Take(std::uint8_t byte) {
  if (framer_.InMessage() && byte >= 0x80 && byte != 0xF7) BreakOff();
  if (framer_.Push(byte)) Complete(framer_.Message());
}

// The sender broke a message off (a status byte came before its 0xF7, or it went quiet
// in the middle): not a receive error, but its part has a hole and is not stored.
void DeviceModel::BreakOff() {
  ++load_.brokenOff;
  (void)GiveUpMessage();
}

void DeviceModel::Lose(std::uint8_t byte) {
  ++load_.lostBytes;
  std::optional<std::uint32_t> address;
  if (byte == 0xF0) {
    // The message that begins here is lost; whose it is cannot be known.
    framer_.Abandon();
    assembler_.Error(std::nullopt, 0);
  } else if (framer_.InMessage()) {
    address = GiveUpMessage();
  }
  if (!lossCounted_) {
    lossCounted_ = true;
    ++load_.overflows;
    Report(RcvErrKind::Overflow, address);
  }
}

std::optional<std::uint32_t> DeviceModel::GiveUpMessage() {
  const Bytes& m = framer_.Message();
  std::optional<std::uint32_t> address;
  if (m.size() >= kAddressKnownBytes) {
    address = AddressOf(m);
    assembler_.Error(PartOf(m), *address);
  } else {
    assembler_.Error(std::nullopt, 0);
  }
  framer_.Abandon();
  return address;
}

void DeviceModel::Complete(const Bytes& m) {
  ++load_.messages;
  switch (CheckMessage(m)) {
    case MessageCheck::NotDataSet:
      ++load_.ignored;
      return;
    case MessageCheck::BadChecksum:
      ++load_.badChecksums;
      assembler_.Error(PartOf(m), AddressOf(m));
      Report(RcvErrKind::BadChecksum, AddressOf(m));
      return;
    case MessageCheck::Good:
      if (const auto part = PartOf(m)) {
        assembler_.Add(*part, AddressOf(m), m);
      } else {
        ++load_.ignored;
      }
      return;
  }
}

void DeviceModel::Report(RcvErrKind kind, std::optional<std::uint32_t> address) {
  ++totalRcvErrors_;
  if (observer_) observer_(RcvErr{kind, address});
}

std::optional<LoadSummary> DeviceModel::Poll(Micros now) {
  if (!loadActive_ || now < lastByte_ + kLoadEndQuiet) return std::nullopt;
  Drain(now);
  if (fillMicroBytes_ > 0) return std::nullopt;
  return EndLoad();
}

std::optional<LoadSummary> DeviceModel::EndLoad() {
  if (!loadActive_) return std::nullopt;
  if (framer_.InMessage()) BreakOff();
  assembler_.Finish();
  LoadSummary summary = load_;
  summary.stored = assembler_.Stored();
  summary.droppedParts = assembler_.Dropped();
  summary.storedMessages = assembler_.StoredMessages();
  assembler_.ClearTally();
  load_ = LoadSummary{};
  loadActive_ = false;
  lossCounted_ = false;
  return summary;
}

}  // namespace mc303sim
