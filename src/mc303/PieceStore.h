// What the parser has understood of one SysEx stream: per user slot the bytes of its
// pattern data and of its settings, the bytes not yet filed, the parser's state, the
// output log's state and the report lines. One instance lives inside MC303Parse.
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

enum class PieceKind : std::int16_t { Pattern = 1, Settings = 2, None = 3 };

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
};

struct ParseState {
  std::int16_t State = 0;  // 0 idle ... 10 in data
  std::int32_t DeviceId = 0;
  std::int32_t Sum = 0;       // running Roland sum; the expected checksum at 0xF7
  std::int32_t LastByte = 0;  // at 0xF7: the checksum byte received
  std::array<std::int32_t, 5> Address{};  // indexes 0-3 used
  std::int32_t DataCount = 0;  // bytes after the address, checksum included
};

struct OutfileLog {
  std::int32_t ByteCount = 0;   // bytes in the log since it was last started
  bool RestartPending = false;  // the next logged byte starts the log anew
  bool Suppressed = false;      // the transmit engine logs nothing
  std::int32_t ErrorCount = 0;  // I/O error messages shown since the last reset, at most 3
};

inline constexpr int kDeviceLinesShown = 14;

struct DeviceLines {
  std::array<std::string, 15> Lines;
  std::int16_t DeviceLineCount = 0;
};

}  // namespace mc303
