// The Files box text: sort keys, the sorted order and the lines a key press removes.
#include <gtest/gtest.h>

#include <string>

#include "filelist/ListText.h"

namespace {

// Character values are code - 48: '0' 0, '.' -2, 'D' 20, 'I' 25, 'S' 35, 'Y' 41, 'a' 49.
TEST(SortKeyOf, TakesTheKindLetterAndNumberFromTheBaseName) {
  const struct {
    const char* path;
    char kindLetter;
    int number;
  } cases[] = {{"/home/u/SET_U07S.SYX", 'S', 7},  // 10*0 + 7
               {"AB", 'B', 0},                   // two characters or fewer: 0
               {".SYX", 'X', 391},               // a leading "." is never cut: 10*35 + 41
               {"a.b.c", 'b', 488},              // the rightmost "." cuts: base a.b, 10*49 - 2
               {"DIR.X/U07S", 'R', 225}};        // a "." in a folder cuts too: 10*20 + 25
  for (const auto& c : cases) {
    const filelist::SortKey key = filelist::SortKeyOf(c.path);
    EXPECT_EQ(key.kindLetter, c.kindLetter) << c.path;
    EXPECT_EQ(key.number, c.number) << c.path;
  }
}

// Settings files (kind S) first, then by the number; equal keys keep their order, a
// line moves with its whole run of line breaks, and a last line without one stays last.
TEST(SortListText, PutsSettingsFirstThenOrdersByNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"X_U03P.SYX\r\nX_U02S.SYX\r\nB_U05P.SYX\r\nA_U05P.SYX\r\nX_U01S.SYX\r\n",
       "X_U01S.SYX\r\nX_U02S.SYX\r\nX_U03P.SYX\r\nB_U05P.SYX\r\nA_U05P.SYX\r\n"},
      {"B_U02P.SYX\n\nB_U01P.SYX\rZ_U00S", "B_U01P.SYX\rB_U02P.SYX\n\nZ_U00S"}};
  for (const auto& [text, sorted] : cases) EXPECT_EQ(filelist::SortListText(text), sorted) << text;
}

// Positions count characters, from 0: AA 0-1, CR LF 2-3; BéB 4-6, 7-8; CC 9-10, 11-12;
// DDD 13-15, 16-17; EE 18-19 without a line break. The é is two bytes.
TEST(WithoutMarkedLines, RemovesEveryLineHoldingAMarkedCharacter) {
  const struct {
    int selStart, selLength;
    const char* kept;
  } cases[] = {{7, 0, "AA\r\nCC\r\nDDD\r\nEE"},           // caret after the last B
               {5, 10, "AA\r\nEE"},                       // B@5 to D@14: two D selected
               {5, 9, "AA\r\nDDD\r\nEE"},                 // one D selected: its line stays
               {0, 20, "EE"}};                            // the final line stays
  for (const auto& c : cases) {
    EXPECT_EQ(filelist::WithoutMarkedLines("AA\r\nB\xC3\xA9" "B\r\nCC\r\nDDD\r\nEE", c.selStart, c.selLength), c.kept)
        << c.selStart << " " << c.selLength;
  }
}

// Positions from 1: CR 1, LF 2, LF 3, A 4-5, CR LF 6-7, B 8. The selection 0, 5 marks
// 1 to 4: the first line has no character of its own, only its line break, so it stays.
TEST(WithoutMarkedLinesAtTheStart, KeepsALeadingLineBreakRunThatNoCharacterOfItsOwnPrecedes) {
  EXPECT_EQ(filelist::WithoutMarkedLines("\r\n\nAA\r\nB", 0, 5), "\r\n\nB");
}

}  // namespace
