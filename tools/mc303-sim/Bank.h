// The simulated device's memory of 50 user patterns: for each slot its pattern data and
// its settings, each kept as the data-set messages it arrived in. The bulk dump sends
// them back in slot order, pattern before settings, which is also the order the device
// dumps in and the order a saved bank file holds.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "DataSet.h"

namespace mc303sim {

class Bank {
 public:
  const std::vector<Bytes>& Part(PartAddress part) const { return parts_[Index(part)]; }
  bool Has(PartAddress part) const { return !Part(part).empty(); }
  void SetPart(PartAddress part, std::vector<Bytes> messages) { parts_[Index(part)] = std::move(messages); }
  int PatternCount() const;
  // Every message of every part, slot by slot, pattern data before settings.
  Bytes DumpBytes() const;

 private:
  static std::size_t Index(PartAddress p) {
    return static_cast<std::size_t>(p.slot) * 2 + (p.kind == PartKind::Settings ? 1 : 0);
  }
  std::array<std::vector<Bytes>, kUserSlots * 2> parts_;
};

// Groups checked messages into parts and puts each finished part into the bank in
// place of the old one. A part is a run of messages of one slot and kind at rising
// addresses: a message of another part, or one at an address not past the previous
// one, begins a new part (so the same file sent twice replaces, never appends).
// A part that a receive error may have hit is not stored: the bank keeps its old part
// rather than a part with a hole in it.
class PartAssembler {
 public:
  explicit PartAssembler(Bank& bank) : bank_(bank) {}

  void Add(PartAddress part, std::uint32_t address, const Bytes& message);
  // A message was lost. When its address is known, the error belongs to its part;
  // otherwise it may belong to the part under way or to the next one, and both are
  // given up.
  void Error(std::optional<PartAddress> part, std::uint32_t address);
  // Ends the part under way; the next message begins a new one.
  void Finish();

  const std::vector<PartAddress>& Stored() const { return stored_; }
  int Dropped() const { return dropped_; }
  int StoredMessages() const { return storedMessages_; }
  void ClearTally();

 private:
  struct Current {
    PartAddress part;
    std::uint32_t lastAddress = 0;
    std::vector<Bytes> messages;
    bool broken = false;
  };
  bool Continues(PartAddress part, std::uint32_t address) const;
  void Begin(PartAddress part, std::uint32_t address);

  Bank& bank_;
  std::optional<Current> current_;
  bool nextBroken_ = false;
  std::vector<PartAddress> stored_;
  int dropped_ = 0;
  int storedMessages_ = 0;
};

struct BankLoad {
  int messages = 0;  // data sets stored
  int ignored = 0;   // messages that are no data set or name no user pattern part
  // Where a message with a wrong checksum starts; the file is then refused.
  std::optional<std::size_t> badChecksumOffset;
};

// Reads a .SYX file's bytes into the bank, as a bulk load without limits would.
BankLoad LoadBank(const Bytes& file, Bank& bank);

// "U01 U02 ... " style list of parts for the summary: U07 when both parts, else U07P/U07S.
std::string DescribeParts(const std::vector<PartAddress>& parts);

}  // namespace mc303sim
