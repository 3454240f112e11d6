// A MIDI byte as the program shows it everywhere: exactly two upper-case hex digits.
#pragma once

#include <cstdint>
#include <string>

namespace roles {

// value is 0 to 255; higher bits are ignored. 0 gives "00", 254 "FE", 15 "0F".
inline std::string HexByte(std::int32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto v = static_cast<std::uint32_t>(value) & 0xFFu;
  return std::string{kDigits[v >> 4], kDigits[v & 0xFu]};
}

// The same digits written into a caller's buffer, for the loops that show every byte.
inline void HexByteInto(std::int32_t value, char out[2]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto v = static_cast<std::uint32_t>(value) & 0xFFu;
  out[0] = kDigits[v >> 4];
  out[1] = kDigits[v & 0xFu];
}

}  // namespace roles
