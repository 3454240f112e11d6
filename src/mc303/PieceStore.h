// PieceStore: what the program has understood of one SysEx stream, per user slot the
// bytes of its pattern data and of its settings, and the bytes not yet filed. Filled by
// SysexIntake; read by the saves, the reload and the command-line front end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mc303 {

using ByteString = std::vector<std::uint8_t>;

inline constexpr int kUserSlots = 50;       // slot index 0-49, shown as U01-U50
inline constexpr int kSlotArraySize = 51;   // index 50 exists but never holds data
inline constexpr int kNoSlot = 255;

// "U07" for user number 7: how every text and file name calls a slot.
inline std::string UserName(int userNumber) {
  return {'U', static_cast<char>('0' + userNumber / 10), static_cast<char>('0' + userNumber % 10)};
}

enum class PieceKind : std::int16_t { Pattern = 1, Settings = 2, None = 3 };

enum class MessageOutcome { New, Continued, Duplicate, NoPiece, BadChecksum };

struct PieceStore {
  std::array<ByteString, kSlotArraySize> PatternData;
  std::array<ByteString, kSlotArraySize> SettingsData;
  std::array<bool, kSlotArraySize> PatternPresent{};
  std::array<bool, kSlotArraySize> SettingsPresent{};
  // Zero until the first reset, as every field is at program start.
  std::int16_t LastSlot = 0;
  std::int16_t LastKind = 0;
  // Every byte fed since the last identified message, less 0xFE and 0xF8.
  ByteString PendingBytes;

  // Where a checked message goes: a piece is a run of messages of one slot and kind, so
  // a message of a piece that another has followed is a duplicate (filed all the same).
  struct Filing {
    MessageOutcome outcome = MessageOutcome::NoPiece;  // New, Continued, Duplicate or NoPiece
    int slotIndex = 0;
    PieceKind kind = PieceKind::None;
    bool otherPresent = false;  // the slot's piece of the other kind
  };

  void Reset();
  // Finds the piece by the first two address bytes; a new piece becomes the last begun.
  [[nodiscard]] Filing Begin(std::int32_t address0, std::int32_t address1);
  // Marks the piece present and moves the pending bytes, the message's among them, into it.
  void Keep(const Filing& filing);
};

}  // namespace mc303
