// How the simulated MC-303 reads one SysEx message: whether it is a Roland MC-303 data
// set with a sound checksum, and which part of which user pattern its address names.
// The simulator checks messages with this code of its own, not the librarian's parser,
// so a fault in one cannot hide the same fault in the other.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace mc303sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kUserSlots = 50;

enum class PartKind { Pattern, Settings };

struct PartAddress {
  int slot = 0;  // 0-49; shown as U01-U50
  PartKind kind = PartKind::Pattern;
  friend bool operator==(const PartAddress&, const PartAddress&) = default;
};

enum class MessageCheck { NotDataSet, BadChecksum, Good };

// A data set is F0 41 dev 00 03 12, four address bytes, data, checksum, F7; the address,
// data and checksum bytes add up to a multiple of 128.
MessageCheck CheckMessage(const Bytes& message);

// The four address bytes, most significant first, as one number; needs the header and
// the address (ten bytes).
std::uint32_t AddressOf(const Bytes& message);

// Pattern data lives at 40-71 xx xx xx (slot = first byte - 0x40), the settings at
// 14 00-31 xx xx (slot = second byte). Needs ten bytes; nullopt for any other address.
std::optional<PartAddress> PartOf(const Bytes& message);

// "U07P" / "U07S".
const char* PartKindLetter(PartKind kind);

}  // namespace mc303sim
