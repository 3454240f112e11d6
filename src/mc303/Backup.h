// One backup file as the parser files it, and two of them compared piece by piece.
// Each file is fed on its own, as a reload feeds one listed file, through a parser of
// its own that shows and logs nothing: pure functions on byte strings that either
// front end can call.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "mc303/PieceStore.h"
#include "mc303/SysexParser.h"

namespace mc303 {

// Feeds bytes through a fresh parser (store reset, reports off, nothing logged) and
// calls onMessage for every data-set message as it completes, its startIndex counting
// in bytes. Returns the store as the last byte left it.
PieceStore FileBytes(std::span<const std::uint8_t> bytes, const std::function<void(const MessageReport&)>& onMessage);

struct Backup {
  // A piece holds its messages in the order received, each with the bytes that waited
  // in front of it: what its piece file would hold. Nothing for a piece not in the file.
  std::array<std::optional<ByteString>, kUserSlots> patterns;
  std::array<std::optional<ByteString>, kUserSlots> settings;
  int badChecksums = 0;
  int duplicates = 0;  // messages of a piece begun again after another one

  const std::optional<ByteString>& Piece(int slotIndex, PieceKind kind) const {
    return (kind == PieceKind::Settings ? settings : patterns)[static_cast<std::size_t>(slotIndex)];
  }
};

Backup ReadBackup(std::span<const std::uint8_t> bytes);

enum class PieceStatus { Same, Differs, OnlyA, OnlyB };

struct PieceComparison {
  int userNumber = 0;  // 1-50
  PieceKind kind = PieceKind::Pattern;
  PieceStatus status = PieceStatus::Same;
};

// Every piece present in a or in b, in user-number order, pattern before settings;
// Same only when the two hold the same bytes.
std::vector<PieceComparison> CompareBackups(const Backup& a, const Backup& b);

}  // namespace mc303
