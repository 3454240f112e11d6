#include "mc303/Renumber.h"

#include <algorithm>

#include "mc303/AddressMap.h"
#include "mc303/Backup.h"

namespace mc303 {
namespace {

// Positions in a data-set message as the parser counts them: real-time bytes inside
// it are no part of it.
constexpr std::size_t kDeviceIdAt = 2;
constexpr std::size_t kAddressAt = 6;
constexpr std::size_t kDataAt = 10;

bool IsRealTime(std::uint8_t b) { return b == 0xFE || b == 0xF8; }

struct Rewrite {
  std::optional<std::uint8_t> deviceId;
  std::optional<std::size_t> slotByte;  // which address byte names the slot, when it moves
  std::uint8_t slotValue = 0;
};

// The message whose 0xF0 stands at start, rewritten in place. The parser completed it,
// so its first 0xF7 after the address ends it and the byte before that is its checksum.
void RewriteMessage(ByteString& bytes, std::size_t start, const Rewrite& rewrite) {
  std::size_t counted = 0;
  std::size_t checksumAt = 0;
  std::uint32_t sum = 0;  // address, data and checksum
  for (std::size_t i = start; i < bytes.size(); ++i) {
    std::uint8_t& b = bytes[i];
    if (IsRealTime(b)) continue;
    if (counted == kDeviceIdAt && rewrite.deviceId) b = *rewrite.deviceId;
    if (counted >= kDataAt && b == 0xF7) {
      if (rewrite.slotByte) {
        const std::uint32_t covered = sum - bytes[checksumAt];
        bytes[checksumAt] = static_cast<std::uint8_t>((128 - covered % 128) % 128);
      }
      return;
    }
    if (counted >= kAddressAt) {
      if (rewrite.slotByte && counted == kAddressAt + *rewrite.slotByte) b = rewrite.slotValue;
      sum += b;
      checksumAt = i;
    }
    ++counted;
  }
}

}  // namespace

bool SlotMap::Add(int fromUser, int toUser) {
  const auto inRange = [](int u) { return u >= 1 && u <= kUserSlots; };
  if (!inRange(fromUser) || !inRange(toUser) || Moves(fromUser)) return false;
  if (std::any_of(moves_.begin(), moves_.end(), [toUser](const auto& m) { return m.second == toUser; })) return false;
  moves_.emplace_back(fromUser, toUser);
  return true;
}

bool SlotMap::Moves(int user) const {
  return std::any_of(moves_.begin(), moves_.end(), [user](const auto& m) { return m.first == user; });
}

int SlotMap::Target(int user) const {
  const auto it = std::find_if(moves_.begin(), moves_.end(), [user](const auto& m) { return m.first == user; });
  return it == moves_.end() ? user : it->second;
}

RenumberResult Renumber(std::span<const std::uint8_t> bytes, const SlotMap& map, std::optional<std::uint8_t> deviceId) {
  RenumberResult result;
  result.bytes.assign(bytes.begin(), bytes.end());
  // Rewritten as the parser completes each message; thrown away if the file is refused.
  const PieceStore store = FileBytes(bytes, [&](const MessageReport& r) {
    if (r.outcome == MessageOutcome::BadChecksum) {
      ++result.badChecksums;
      return;
    }
    Rewrite rewrite{deviceId, std::nullopt, 0};
    if (r.userNumber > 0 && map.Moves(r.userNumber)) {
      rewrite.slotByte = static_cast<std::size_t>(SlotAddressByte(r.kind));
      rewrite.slotValue = SlotAddressValue(r.kind, map.Target(r.userNumber) - 1);
    }
    if (!rewrite.deviceId && !rewrite.slotByte) return;
    RewriteMessage(result.bytes, static_cast<std::size_t>(r.startIndex), rewrite);
    ++result.messagesRewritten;
  });

  const auto holds = [&store](int user) {
    const auto s = static_cast<std::size_t>(user - 1);
    return store.PatternPresent[s] || store.SettingsPresent[s];
  };
  const auto refuse = [&result](RenumberRefusal why, int user) {
    result.refusal = why;
    result.refusedUser = user;
    result.bytes = {};
    result.messagesRewritten = 0;
    return result;
  };
  if (result.badChecksums > 0) return refuse(RenumberRefusal::BadChecksum, 0);
  for (const auto& [from, to] : map.Pairs()) {
    if (!holds(from)) return refuse(RenumberRefusal::FromNotHeld, from);
    if (holds(to) && !map.Moves(to)) return refuse(RenumberRefusal::ToHeld, to);
  }
  return result;
}

}  // namespace mc303
