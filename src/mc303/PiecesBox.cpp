#include "mc303/PiecesBox.h"

#include <algorithm>
#include <array>

namespace mc303 {
namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

void PiecesBox::Add(const PieceStore::Filing& filing) {
  std::string line = UserName(filing.slotIndex + 1);
  if (!filing.otherPresent) line += filing.kind == PieceKind::Pattern ? " Missing Settings" : " Settings Only";
  AddLine(line + "\r\n");
}

void PiecesBox::AddLine(const std::string& line) {
  piecesBox_.SetCaretToEnd();
  const std::size_t maxLength = static_cast<std::size_t>(piecesBox_.MaxLength());
  if (maxLength > 0 && piecesBox_.Text().size() + line.size() > maxLength) {
    const std::string& text = piecesBox_.Text();
    const std::size_t keep = std::min(maxLength / 2, text.size());
    piecesBox_.SetText(text.substr(text.size() - keep) + line);
  } else {
    piecesBox_.Append(line);
  }

  // One removal at a time, each walk starting afresh, until no slot has two lines.
  while (RemoveOlderLine()) {
  }
  piecesBox_.SetCaretToEnd();
}

bool PiecesBox::RemoveOlderLine() {
  // The box is re-read at every character because the events pumped here may change it.
  std::array<std::size_t, kUserSlots + 1> seenStart{};
  std::array<std::size_t, kUserSlots + 1> seenNext{};  // 0 for a slot not seen: a line ends past 0
  std::size_t lineStart = 0;
  bool inBreak = false;
  for (std::size_t i = 0;; ++i) {
    pump_.PumpEvents();
    const std::string& text = piecesBox_.Text();
    const bool atEnd = i >= text.size();
    if (!atEnd && IsLineBreak(text[i])) {
      inBreak = true;
      continue;
    }
    if (inBreak) {
      // [lineStart, i) is a complete line, its line-break run included.
      const auto digit = [&](std::size_t pos) {
        return pos < text.size() ? static_cast<int>(static_cast<unsigned char>(text[pos])) - 48 : -1000;
      };
      const int u = 10 * digit(lineStart + 1) + digit(lineStart + 2);
      if (u >= 1 && u <= kUserSlots) {
        const auto su = static_cast<std::size_t>(u);
        if (seenNext[su] != 0) {
          std::string edited = text;
          if (seenNext[su] <= edited.size() && seenStart[su] <= seenNext[su]) {
            edited.erase(seenStart[su], seenNext[su] - seenStart[su]);
          }
          piecesBox_.SetText(std::move(edited));
          return true;
        }
        seenStart[su] = lineStart;
        seenNext[su] = i;
      }
      lineStart = i;
      inBreak = false;
    }
    if (atEnd) return false;
  }
}

}  // namespace mc303
