#include "mc303/SysexParser.h"

#include <cctype>
#include <charconv>

#include "roles/HexByte.h"

namespace mc303 {
namespace {

constexpr std::int32_t kSysexStart = 0xF0;
constexpr std::int32_t kSysexEnd = 0xF7;
constexpr std::int32_t kFirstStatus = 0x80;
constexpr std::int32_t kFirstRealTime = 0xF8;
constexpr std::int32_t kRoland = 0x41;
constexpr std::int32_t kModelId1 = 0x00;
constexpr std::int32_t kModelId2 = 0x03;  // MC-303
constexpr std::int32_t kDataSet = 0x12;
// The byte each header state waits for; state 2 takes any device ID.
constexpr std::array<std::int32_t, 6> kHeader{kSysexStart, kRoland, 0, kModelId1, kModelId2, kDataSet};

// Hexadecimal in upper case without leading zeros: 0x0A gives "A", 0 gives "0".
std::string HexNoPad(std::int32_t value) {
  char digits[8];
  std::string out(digits, std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(value), 16).ptr);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<MessageReport> SysexParser::Feed(std::int32_t byte, std::uint64_t index) {
  ParseState& p = state_;
  // As on a MIDI cable: a real-time byte may stand anywhere, inside a message too, and
  // belongs to none; any other status byte ends a message under way (a new 0xF0 starts
  // the next one), so that a message cut short never swallows the next one. The bytes
  // of a message cut off stay pending, as those of a broken-off header do.
  if (byte >= kFirstRealTime) return std::nullopt;
  if (byte >= kFirstStatus && p.State != 0 && !(p.State == 10 && byte == kSysexEnd)) {
    BreakOff(byte, index);
    return std::nullopt;
  }
  switch (p.State) {
    case 0:
      if (byte == kSysexStart) {
        p.State = 1;
        messageStart_ = index;
      }
      break;
    case 1:
    case 3:
    case 4:
    case 5:
      if (byte != kHeader[static_cast<std::size_t>(p.State)]) {
        BreakOff(byte, index);
        break;
      }
      // The sum starts at Roland's ID and starts again after the command.
      p.Sum = p.State == 1 ? kRoland : p.State == 5 ? 0 : (p.Sum + byte) % 256;
      ++p.State;
      break;
    case 2:
      p.Sum = (p.Sum + byte) % 256;
      p.State = 3;
      break;
    case 6:
    case 7:
    case 8:
    case 9:
      p.Address[static_cast<std::size_t>(p.State - 6)] = byte;
      p.Sum = (p.Sum + byte) % 256;
      if (p.State == 9) {
        p.DataCount = 0;
        // No byte has come after this address yet; the previous message's checksum
        // must not stand in for this one's.
        p.LastByte = 0;
      }
      ++p.State;
      break;
    case 10:
      if (byte == kSysexEnd) return Complete();
      AddData(byte);
      break;
    default:
      break;
  }
  return std::nullopt;
}

MessageReport SysexParser::Complete() {
  ParseState& p = state_;
  // Sum holds address + data + checksum; the Roland checksum makes them a multiple of 128.
  std::int32_t expected = p.Sum - p.LastByte;
  while (expected < 0) expected += 256;
  p.Sum = (128 - expected % 128) % 128;
  MessageReport r;
  // A message that ends right after its address has no checksum byte to test, so it
  // cannot pass the test.
  const bool good = p.DataCount > 0 && p.Sum == p.LastByte;
  r.outcome = good ? MessageOutcome::NoPiece : MessageOutcome::BadChecksum;
  r.address = {p.Address[0], p.Address[1], p.Address[2], p.Address[3]};
  r.dataCount = p.DataCount;
  r.receivedChecksum = p.LastByte;
  r.expectedChecksum = p.Sum;
  r.startIndex = messageStart_;
  return r;
}

void SysexParser::BreakOff(std::int32_t byte, std::uint64_t index) {
  if (byte == kSysexStart) {
    state_.State = 1;
    messageStart_ = index;
  } else {
    state_.State = 0;
  }
}

void SysexParser::FormatReportLine(const MessageReport& m, std::string& line) {
  if (m.outcome == MessageOutcome::BadChecksum) {
    line = roles::HexByte(m.address[0]) + roles::HexByte(m.address[1]) + HexNoPad(m.address[2]) +
           HexNoPad(m.address[3]);
    line += " BAD CKS (WAS " + roles::HexByte(m.receivedChecksum) + ", EXPECTED " +
            roles::HexByte(m.expectedChecksum) + ")!";
    return;
  }
  line.clear();
  char hex[2];
  for (const std::int32_t a : m.address) {
    roles::HexByteInto(a, hex);
    line.append(hex, 2);
  }
  // A number is written with a blank where a plus sign would stand.
  line += ' ';
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, m.dataCount).ptr;
  line.append(digits, end);
  line += " BYTES.";
}

}  // namespace mc303
