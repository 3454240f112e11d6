// Moving a backup's pieces to other user slots and setting the device ID its messages
// carry, so that backups of the same slot can be combined and a unit set to another
// device ID takes them. Works on the bytes of one file; the parser says which message
// belongs to which slot, so what it moves is exactly what a reload would file there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "mc303/PieceStore.h"

namespace mc303 {

// Where user slots go. A slot moves at most once and no two go to one slot, so a
// swap is a map and a clash cannot be one.
class SlotMap {
 public:
  // False, changing nothing, when a number is outside 1-50, fromUser is moved already
  // or another slot goes to toUser.
  [[nodiscard]] bool Add(int fromUser, int toUser);
  [[nodiscard]] bool Moves(int user) const;
  // The user number a slot goes to; its own when it does not move.
  [[nodiscard]] int Target(int user) const;
  [[nodiscard]] bool Empty() const { return moves_.empty(); }
  // (from, to) in the order added.
  const std::vector<std::pair<int, int>>& Pairs() const { return moves_; }

 private:
  std::vector<std::pair<int, int>> moves_;
};

enum class RenumberRefusal {
  None,
  BadChecksum,  // renumbered, a broken message would look whole
  FromNotHeld,  // a slot to move holds nothing in the file
  ToHeld,       // a slot moved to holds something that stays
};

struct RenumberResult {
  RenumberRefusal refusal = RenumberRefusal::None;
  int refusedUser = 0;  // the slot of FromNotHeld or ToHeld
  int badChecksums = 0;
  ByteString bytes;  // the whole file rewritten; empty when refused
  std::size_t messagesRewritten = 0;
};

// Every message of a moved slot gets the address byte that names its new slot and the
// Roland checksum over its new address and data; with deviceId (0-31) every data-set
// message gets that device ID, which no checksum covers. Every other byte stays as it
// stands, real-time bytes inside a message too.
RenumberResult Renumber(std::span<const std::uint8_t> bytes, const SlotMap& map, std::optional<std::uint8_t> deviceId);

}  // namespace mc303
