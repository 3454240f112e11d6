// The Files box text: sort keys, the sorted order and the lines a key press removes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filelist/ListText.h"

namespace {

// Character values are code - 48: '0' 0, '.' -2, 'D' 20, 'I' 25, 'S' 35, 'X' 40, 'Y' 41, 'a' 49.
TEST(SortKeyOf, TakesTheKindLetterAndNumberFromTheBaseName) {
  const struct {
    const char* path;
    char kindLetter;
    int number;
  } cases[] = {{"/home/u/SET_U07S.SYX", 'S', 7},  // 10*0 + 7
               {"AB", 'B', 0},                   // two characters or fewer: 0
               {".SYX", 'X', 391},               // a leading "." is never cut: 10*35 + 41
               {"XY.", '.', 441},                // nor a trailing one: 10*40 + 41
               {"a.b.c", 'b', 488},              // the rightmost "." cuts: base a.b, 10*49 - 2
               {"DIR.X/U07S", 'R', 225}};        // a "." in a folder cuts too: 10*20 + 25
  for (const auto& c : cases) {
    const filelist::SortKey key = filelist::SortKeyOf(c.path);
    EXPECT_EQ(key.kindLetter, c.kindLetter) << c.path;
    EXPECT_EQ(key.number, c.number) << c.path;
  }
}

// The order the Files box has always had: neighbours exchanged one pair at a time,
// the walk restarting from the top after each exchange, written here from scratch.
bool IsBreak(char c) { return c == '\r' || c == '\n'; }

std::pair<char, int> ReferenceKey(std::string line) {
  while (!line.empty() && IsBreak(line.back())) line.pop_back();
  std::string base = line;
  for (std::size_t i = line.size(); i-- > 1;) {
    if (i + 2 <= line.size() && line[i] == '.') {
      base = line.substr(0, i);
      break;
    }
  }
  const auto value = [&](std::size_t fromEnd) { return int(static_cast<unsigned char>(base[base.size() - fromEnd])) - 48; };
  return {base.empty() ? '\0' : base.back(), base.size() > 2 ? 10 * value(3) + value(2) : 0};
}

bool ReferenceExchange(const std::string& earlier, const std::string& later) {
  const auto [ek, en] = ReferenceKey(earlier);
  const auto [lk, ln] = ReferenceKey(later);
  return (ek != 'S' && (lk == 'S' || en > ln)) || (ek == 'S' && lk == 'S' && en > ln);
}

std::string ReferenceSort(std::string t) {
  for (bool exchanged = true; exchanged;) {
    exchanged = false;
    std::string previous;
    std::size_t previousStart = 0, start = 0;
    for (std::size_t i = 0; i < t.size() && !exchanged; ++i) {
      if (!IsBreak(t[i])) continue;
      while (i + 1 < t.size() && IsBreak(t[i + 1])) ++i;
      const std::string line = t.substr(start, i + 1 - start);
      if (start > 0 && ReferenceExchange(previous, line)) {
        t = t.substr(0, previousStart) + line + previous + t.substr(i + 1);
        exchanged = true;
      }
      previous = line;
      previousStart = start;
      start = i + 1;
    }
  }
  return t;
}

TEST(SortListText, GivesTheOrderOfTheNeighbourExchangeOnGeneratedLists) {
  std::mt19937 rng(5);
  const std::string alphabet = "0123456789SsPX._/";
  const std::string breaks[] = {"\r\n", "\n", "\r", "\r\n\r\n"};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const int lines = static_cast<int>(rng() % 25);
    for (int l = 0; l < lines; ++l) {
      const int length = 1 + static_cast<int>(rng() % 9);
      for (int c = 0; c < length; ++c) text += alphabet[rng() % alphabet.size()];
      text += breaks[rng() % 4];
    }
    if (rng() % 3 == 0) text += "tail.SYX";  // a final line without a line break
    // Half the lists are sorted but for one appended line, as after an add.
    if (round % 2 == 0) text = ReferenceSort(text) + "B_U" + std::to_string(10 + rng() % 90) + "S.SYX\r\n";
    EXPECT_EQ(filelist::SortListText(text), ReferenceSort(text)) << "round " << round;
  }
}

// Positions, from 0: AA 0-1, CR LF 2-3; BBB 4-6, 7-8; CC 9-10, 11-12; DDD 13-15, 16-17;
// EE 18-19 without a line break.
TEST(WithoutMarkedLines, RemovesEveryLineHoldingAMarkedCharacter) {
  const struct {
    int selStart, selLength;
    const char* kept;
  } cases[] = {{7, 0, "AA\r\nCC\r\nDDD\r\nEE"},           // caret after the last B
               {4, 0, "AA\r\nBBB\r\nCC\r\nDDD\r\nEE"},  // at the start of a line
               {5, 10, "AA\r\nEE"},                       // B@5 to D@14: two D selected
               {5, 9, "AA\r\nDDD\r\nEE"},                 // one D selected: its line stays
               {0, 20, "EE"}};                            // the final line stays
  for (const auto& c : cases) {
    EXPECT_EQ(filelist::WithoutMarkedLines("AA\r\nBBB\r\nCC\r\nDDD\r\nEE", c.selStart, c.selLength), c.kept)
        << c.selStart << " " << c.selLength;
  }
}

// Positions from 1: CR 1, LF 2, LF 3, A 4-5, CR LF 6-7, B 8. The selection 0, 5 marks
// 1 to 4: the first line has no character of its own, only its line break, so it stays.
TEST(WithoutMarkedLinesAtTheStart, KeepsALeadingLineBreakRunThatNoCharacterOfItsOwnPrecedes) {
  EXPECT_EQ(filelist::WithoutMarkedLines("\r\n\nAA\r\nB", 0, 5), "\r\n\nB");
}

}  // namespace
