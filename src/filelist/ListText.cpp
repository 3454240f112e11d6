#include "filelist/ListText.h"

#include <algorithm>
#include <cstdint>

#include "roles/TextBox.h"

namespace filelist {
namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

int CharValue(char c) { return static_cast<int>(static_cast<unsigned char>(c)) - 48; }

}  // namespace

std::vector<ListLine> CompleteLines(std::string_view text) {
  std::vector<ListLine> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsLineBreak(text[i])) {
      ++i;
      continue;
    }
    const std::size_t contentEnd = i;
    while (i < text.size() && IsLineBreak(text[i])) ++i;
    lines.push_back({start, contentEnd, i});
    start = i;
  }
  return lines;
}

SortKey SortKeyOf(std::string_view path) {
  // The extension starts at the rightmost "." that is neither the first nor the last
  // character; a name without one is all base.
  std::string_view base = path;
  if (path.size() >= 3) {
    const std::size_t dot = path.substr(0, path.size() - 1).rfind('.');
    if (dot != std::string_view::npos && dot >= 1) base = path.substr(0, dot);
  }
  SortKey key;
  if (!base.empty()) key.kindLetter = base.back();
  if (base.size() > 2) key.number = 10 * CharValue(base[base.size() - 3]) + CharValue(base[base.size() - 2]);
  return key;
}

bool SortsBefore(const SortKey& later, const SortKey& earlier) {
  const bool laterS = later.kindLetter == 'S';
  const bool earlierS = earlier.kindLetter == 'S';
  if (laterS != earlierS) return laterS;
  return later.number < earlier.number;
}

std::string SortListText(std::string_view text) {
  const std::vector<ListLine> lines = CompleteLines(text);
  struct Keyed {
    SortKey key;
    ListLine line;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(lines.size());
  for (const ListLine& l : lines) keyed.push_back({SortKeyOf(text.substr(l.start, l.contentEnd - l.start)), l});
  // The list is usually sorted already but for one appended line; the stable sort
  // costs little then and keeps equal keys in their order.
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const Keyed& a, const Keyed& b) { return SortsBefore(a.key, b.key); });

  std::string sorted;
  sorted.reserve(text.size());
  for (const Keyed& k : keyed) sorted.append(text.substr(k.line.start, k.line.end - k.line.start));
  sorted.append(text.substr(lines.empty() ? 0 : lines.back().end));
  return sorted;
}

std::string WithoutMarkedLines(std::string_view text, int selStart, int selLength) {
  // Counted from 1, so 0 marks nothing. In 64 bits: two large ints must not overflow
  // where long has 32 (Windows).
  const std::int64_t firstMarked = selStart;
  const std::int64_t lastMarked = static_cast<std::int64_t>(selStart) + std::max(selLength, 1) - 1;
  std::string kept;
  kept.reserve(text.size());
  std::size_t keptUpTo = 0;
  std::int64_t charsBefore = 0;  // the characters before the line: positions count characters
  for (const ListLine& l : CompleteLines(text)) {
    // The line's own characters are positions charsBefore + 1 to contentEnd; a line of
    // nothing but its line break (a list that begins with one) has none to mark.
    const std::int64_t contentEnd = charsBefore + roles::CharCount(text.substr(l.start, l.contentEnd - l.start));
    const bool marked = charsBefore < contentEnd && charsBefore + 1 <= lastMarked && firstMarked <= contentEnd;
    if (marked) {
      kept.append(text.substr(keptUpTo, l.start - keptUpTo));
      keptUpTo = l.end;
    }
    charsBefore = contentEnd + static_cast<std::int64_t>(l.end - l.contentEnd);
  }
  kept.append(text.substr(keptUpTo));
  return kept;
}

}  // namespace filelist
