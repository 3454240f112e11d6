// The user slots' pieces of a received stream, found by the device's addresses alone,
// so that saved piece files can be checked without the parser: in F0 41 dev 00 03 12
// a0 a1 ..., a slot's pattern is every message at a0 = 0x40 + slot and its settings
// the message at 0x14 slot. Anything between messages is skipped.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

struct SlotPieces {
  std::map<int, std::vector<std::uint8_t>> pattern, settings;  // by slot index 0-49
};

inline SlotPieces SplitByAddress(const std::vector<std::uint8_t>& stream) {
  SlotPieces out;
  for (auto i = std::find(stream.begin(), stream.end(), 0xF0); i != stream.end();
       i = std::find(i, stream.end(), 0xF0)) {
    const auto end = std::find(i, stream.end(), 0xF7);
    if (end == stream.end() || end - i < 8) break;
    std::vector<std::uint8_t>& piece = i[6] >= 0x40 ? out.pattern[i[6] - 0x40] : out.settings[i[7]];
    piece.insert(piece.end(), i, end + 1);
    i = end + 1;
  }
  return out;
}
