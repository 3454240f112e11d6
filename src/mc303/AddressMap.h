// The MC-303's address map: which user slot's pattern or settings a data-set message
// writes to, read from the first two address bytes. The parser files messages by it,
// and renumbering rewrites addresses by it, so the two always agree.
#pragma once

#include <cstdint>
#include <optional>

#include "mc303/PieceStore.h"

namespace mc303 {

// A pattern's first address byte is 0x40 + slot index (0x3F + user number) for the
// 50 user slots; settings are 0x14 followed by the slot index. The other two address
// bytes, and the device ID, name no slot.
inline constexpr std::int32_t kFirstPatternAddress = 0x40;
inline constexpr std::int32_t kSettingsAddress = 0x14;

struct PieceAddress {
  int slotIndex = 0;  // 0-49
  PieceKind kind = PieceKind::None;
};

// The piece a message at these address bytes belongs to; nothing for an address of
// no user slot.
constexpr std::optional<PieceAddress> PieceAt(std::int32_t address0, std::int32_t address1) {
  const std::int32_t pattern = address0 - kFirstPatternAddress;
  if (pattern >= 0 && pattern < kUserSlots) return PieceAddress{pattern, PieceKind::Pattern};
  if (address0 == kSettingsAddress && address1 >= 0 && address1 < kUserSlots) {
    return PieceAddress{address1, PieceKind::Settings};
  }
  return std::nullopt;
}

// Which of the four address bytes names the slot of a piece of this kind, and the
// value it takes for a slot index: the inverse of PieceAt.
constexpr int SlotAddressByte(PieceKind kind) { return kind == PieceKind::Settings ? 1 : 0; }
constexpr std::uint8_t SlotAddressValue(PieceKind kind, int slotIndex) {
  return static_cast<std::uint8_t>(kind == PieceKind::Settings ? slotIndex : kFirstPatternAddress + slotIndex);
}

}  // namespace mc303
