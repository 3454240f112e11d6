#include "DataSet.h"

namespace mc303sim {
namespace {

constexpr std::size_t kHeaderBytes = 6;   // F0 41 dev 00 03 12
constexpr std::size_t kAddressEnd = 10;   // header and four address bytes
constexpr std::size_t kShortestBytes = 12;  // ... checksum F7

}  // namespace

MessageCheck CheckMessage(const Bytes& m) {
  if (m.size() < kShortestBytes || m.front() != 0xF0 || m.back() != 0xF7 || m[1] != 0x41 || m[3] != 0x00 ||
      m[4] != 0x03 || m[5] != 0x12) {
    return MessageCheck::NotDataSet;
  }
  unsigned sum = 0;
  for (std::size_t i = kHeaderBytes; i + 1 < m.size(); ++i) sum += m[i];
  return sum % 128 == 0 ? MessageCheck::Good : MessageCheck::BadChecksum;
}

std::uint32_t AddressOf(const Bytes& m) {
  std::uint32_t address = 0;
  for (std::size_t i = kHeaderBytes; i < kAddressEnd && i < m.size(); ++i) address = address << 8 | m[i];
  return address;
}

std::optional<PartAddress> PartOf(const Bytes& m) {
  if (m.size() < kAddressEnd) return std::nullopt;
  const std::uint8_t a0 = m[kHeaderBytes];
  const std::uint8_t a1 = m[kHeaderBytes + 1];
  if (a0 >= 0x40 && a0 < 0x40 + kUserSlots) return PartAddress{a0 - 0x40, PartKind::Pattern};
  if (a0 == 0x14 && a1 < kUserSlots) return PartAddress{a1, PartKind::Settings};
  return std::nullopt;
}

const char* PartKindLetter(PartKind kind) { return kind == PartKind::Pattern ? "P" : "S"; }

}  // namespace mc303sim
