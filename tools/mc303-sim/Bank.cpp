#include "Bank.h"

#include <algorithm>
#include <cstdio>

#include "SysexFramer.h"

namespace mc303sim {

int Bank::PatternCount() const {
  int n = 0;
  for (int s = 0; s < kUserSlots; ++s) n += Has({s, PartKind::Pattern}) ? 1 : 0;
  return n;
}

Bytes Bank::DumpBytes() const {
  Bytes out;
  for (const auto& part : parts_) {
    for (const Bytes& m : part) out.insert(out.end(), m.begin(), m.end());
  }
  return out;
}

bool PartAssembler::Continues(PartAddress part, std::uint32_t address) const {
  return current_ && current_->part == part && address > current_->lastAddress;
}

void PartAssembler::Begin(PartAddress part, std::uint32_t address) {
  Finish();
  current_ = Current{part, address, {}, nextBroken_};
  nextBroken_ = false;
}

void PartAssembler::Add(PartAddress part, std::uint32_t address, const Bytes& message) {
  if (Continues(part, address)) {
    nextBroken_ = false;  // a message lost just before was one of this part's
  } else {
    Begin(part, address);
  }
  current_->lastAddress = address;
  current_->messages.push_back(message);
}

void PartAssembler::Error(std::optional<PartAddress> part, std::uint32_t address) {
  if (part) {
    if (!Continues(*part, address)) Begin(*part, address);
    current_->lastAddress = address;
    current_->broken = true;
    return;
  }
  if (current_) current_->broken = true;
  nextBroken_ = true;
}

void PartAssembler::Finish() {
  if (!current_) return;
  if (current_->broken) {
    ++dropped_;
  } else {
    storedMessages_ += static_cast<int>(current_->messages.size());
    stored_.push_back(current_->part);
    bank_.SetPart(current_->part, std::move(current_->messages));
  }
  current_.reset();
}

void PartAssembler::ClearTally() {
  Finish();
  nextBroken_ = false;
  stored_.clear();
  dropped_ = 0;
  storedMessages_ = 0;
}

BankLoad LoadBank(const Bytes& file, Bank& bank) {
  BankLoad load;
  Bank loaded;
  PartAssembler assembler(loaded);
  SysexFramer framer;
  std::size_t start = 0;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const std::uint8_t b = file[i];
    if (b >= 0xF8) continue;
    if (b == 0xF0) start = i;
    if (!framer.Push(b)) continue;
    const Bytes& m = framer.Message();
    const MessageCheck check = CheckMessage(m);
    if (check == MessageCheck::BadChecksum) {
      load.badChecksumOffset = start;
      return load;
    }
    const auto part = check == MessageCheck::Good ? PartOf(m) : std::nullopt;
    if (!part) {
      ++load.ignored;
      continue;
    }
    assembler.Add(*part, AddressOf(m), m);
    ++load.messages;
  }
  assembler.Finish();
  // A bank file names every part it holds; parts it does not name keep what the bank had.
  for (int s = 0; s < kUserSlots; ++s) {
    for (PartKind k : {PartKind::Pattern, PartKind::Settings}) {
      if (loaded.Has({s, k})) bank.SetPart({s, k}, loaded.Part({s, k}));
    }
  }
  return load;
}

std::string DescribeParts(const std::vector<PartAddress>& parts) {
  std::string text;
  for (int s = 0; s < kUserSlots; ++s) {
    const bool pattern = std::find(parts.begin(), parts.end(), PartAddress{s, PartKind::Pattern}) != parts.end();
    const bool settings = std::find(parts.begin(), parts.end(), PartAddress{s, PartKind::Settings}) != parts.end();
    if (!pattern && !settings) continue;
    char name[16];
    std::snprintf(name, sizeof name, "U%02d%s", s + 1, pattern && settings ? "" : pattern ? "P" : "S");
    if (!text.empty()) text += ' ';
    text += name;
  }
  return text;
}

}  // namespace mc303sim
