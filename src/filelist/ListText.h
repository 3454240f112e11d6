// The text of the Files box read as a list: one path a line, each line ended by a run
// of CR and LF. How its lines are found, how they sort and which of them a key press
// in the box removes. Pure text work, shared by the file list and its tests.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace filelist {

// One complete line: the path in [start, contentEnd), its line-break run in
// [contentEnd, end). Text after the last run (a final line without a line break) is
// not a line: nothing reads, sorts or removes it.
struct ListLine {
  std::size_t start = 0;
  std::size_t contentEnd = 0;
  std::size_t end = 0;
};

std::vector<ListLine> CompleteLines(std::string_view text);

// Per-piece files (..._U07S.SYX) sort by their kind letter and user number. Character
// values are taken as they are, digits or not, so any name has a key.
struct SortKey {
  char kindLetter = '\0';  // '\0' for an empty name
  int number = 0;
};

// The key of a path given without its line break.
SortKey SortKeyOf(std::string_view path);

// True when a line with key `later` must stand before one with key `earlier`: every
// upper-case S first, then the rest, each group by ascending number. Equal keys keep
// their order.
bool SortsBefore(const SortKey& later, const SortKey& earlier);

// The list with its complete lines in sorted order, each line keeping its own
// line-break run, and the final line without a line break left at the end.
std::string SortListText(std::string_view text);

// The list less every complete line that holds one of the marked characters s to
// s + n - 1, counted from 1 in characters as the box counts them (roles::TextBox): with
// n = 0 (a plain caret) the character just before the caret; with a selection, the
// character before it and all selected but the last.
// Line breaks are never marked, so a caret at the start of a line removes nothing.
std::string WithoutMarkedLines(std::string_view text, int selStart, int selLength);

}  // namespace filelist
