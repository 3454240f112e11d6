#include "mc303/PieceStore.h"

#include <optional>

#include "mc303/AddressMap.h"

namespace mc303 {

void PieceStore::Reset() {
  PendingBytes.clear();
  for (std::size_t s = 0; s < kUserSlots; ++s) {
    PatternPresent[s] = false;
    SettingsPresent[s] = false;
    PatternData[s].clear();
    SettingsData[s].clear();
  }
  LastKind = static_cast<std::int16_t>(PieceKind::None);
  LastSlot = kNoSlot;
}

PieceStore::Filing PieceStore::Begin(std::int32_t address0, std::int32_t address1) {
  const std::optional<PieceAddress> piece = PieceAt(address0, address1);
  if (!piece) return {};
  const auto s = static_cast<std::size_t>(piece->slotIndex);
  const bool pattern = piece->kind == PieceKind::Pattern;
  Filing filing{MessageOutcome::New, piece->slotIndex, piece->kind, pattern ? SettingsPresent[s] : PatternPresent[s]};
  if (!(pattern ? PatternPresent[s] : SettingsPresent[s])) {
    LastSlot = static_cast<std::int16_t>(piece->slotIndex);
    LastKind = static_cast<std::int16_t>(piece->kind);
  } else if (LastSlot == piece->slotIndex && LastKind == static_cast<std::int16_t>(piece->kind)) {
    filing.outcome = MessageOutcome::Continued;
  } else {
    filing.outcome = MessageOutcome::Duplicate;
  }
  return filing;
}

void PieceStore::Keep(const Filing& filing) {
  const auto s = static_cast<std::size_t>(filing.slotIndex);
  const bool pattern = filing.kind == PieceKind::Pattern;
  (pattern ? PatternPresent[s] : SettingsPresent[s]) = true;
  ByteString& data = pattern ? PatternData[s] : SettingsData[s];
  data.insert(data.end(), PendingBytes.begin(), PendingBytes.end());
  PendingBytes.clear();
}

}  // namespace mc303
