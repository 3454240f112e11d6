// SysexParser: the state machine that reads the MC-303's Roland data-set messages out of
// a byte stream and tests their checksums. Bytes in, message reports out: it keeps no
// bytes and shows nothing; SysexIntake logs, files and reports around it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "mc303/PieceStore.h"

namespace mc303 {

struct ParseState {
  std::int16_t State = 0;  // 0 idle ... 10 in data
  std::int32_t Sum = 0;       // running Roland sum; the expected checksum at 0xF7
  std::int32_t LastByte = 0;  // at 0xF7: the checksum byte received
  std::array<std::int32_t, 5> Address{};  // indexes 0-3 used
  std::int32_t DataCount = 0;  // bytes after the address, checksum included
};

// What became of one completed data-set message, for callers that account for every
// message (the command-line front end).
struct MessageReport {
  MessageOutcome outcome = MessageOutcome::NoPiece;
  std::array<std::int32_t, 4> address{};
  std::int32_t dataCount = 0;          // bytes after the address, checksum included
  std::int32_t receivedChecksum = 0;
  std::int32_t expectedChecksum = 0;
  std::uint64_t startIndex = 0;        // feed index (every byte fed counts) of its 0xF0
  int userNumber = 0;                  // 1-50; 0 when it belongs to no piece
  PieceKind kind = PieceKind::None;
  std::string reportLine;              // the report box line, without its line break
};

class SysexParser {
 public:
  // Active sensing and timing clock are neither logged, nor kept, nor parsed.
  static constexpr bool Ignores(std::int32_t byte) { return byte == 0xFE || byte == 0xF8; }
  // Whether Feed would take the byte as one more data byte of the message under way:
  // most bytes of a dump, which the caller's loop hands to AddData inline.
  bool InData(std::int32_t byte) const { return state_.State == 10 && byte < 0x80; }
  void AddData(std::int32_t byte) {
    state_.Sum = static_cast<std::int32_t>((static_cast<std::uint32_t>(state_.Sum) + static_cast<std::uint32_t>(byte)) & 0xFFu);
    ++state_.DataCount;
    state_.LastByte = byte;
  }
  // index: where the byte stands among all fed, for the report's startIndex. At an
  // 0xF7 that ends a message, the message's report, outcome NoPiece when its checksum
  // is good; the parser stays in state 10 until EndMessage, so that a handler run while
  // the message is filed still sees it under way.
  [[nodiscard]] std::optional<MessageReport> Feed(std::int32_t byte, std::uint64_t index);
  void EndMessage() { state_.State = 0; }
  const ParseState& State() const { return state_; }
  // The report box line of a completed message, into the caller's reused storage.
  static void FormatReportLine(const MessageReport& message, std::string& line);

 private:
  MessageReport Complete();
  void BreakOff(std::int32_t byte, std::uint64_t index);

  ParseState state_;
  std::uint64_t messageStart_ = 0;
};

}  // namespace mc303
