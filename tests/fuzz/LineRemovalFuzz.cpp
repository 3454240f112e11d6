// Fuzz target: removing the lines of the Files box that the caret or selection marks.
//
// Input: the selection start and length as two 32-bit values, then the box's text.
// With those values as they come (any int, negative too) the removal must not crash and
// must leave whole lines of the text in their order, the final line without a break
// always among them. With the values a box can hold (its text cut to 8192 characters,
// the selection clamped into it) the lines removed must be exactly those that hold a
// marked character, worked out here from a map of marked positions.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "filelist/ListText.h"
#include "ui/TextBox.h"

namespace {

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

struct Line {
  std::size_t start = 0;
  std::size_t contentEnd = 0;
  std::size_t end = 0;
  bool complete() const { return end > contentEnd; }
};

std::vector<Line> Lines(std::string_view t) {
  std::vector<Line> lines;
  std::size_t i = 0;
  while (i < t.size()) {
    Line l;
    l.start = i;
    while (i < t.size() && !IsBreak(t[i])) ++i;
    l.contentEnd = i;
    while (i < t.size() && IsBreak(t[i])) ++i;
    l.end = i;
    lines.push_back(l);
  }
  return lines;
}

// The result holds the text's lines in order, some left out, and its final line
// without a break unchanged.
void CheckWholeLinesKept(std::string_view text, std::string_view result) {
  const std::vector<Line> in = Lines(text);
  const std::vector<Line> out = Lines(result);
  const bool inFinal = !in.empty() && !in.back().complete();
  const bool outFinal = !out.empty() && !out.back().complete();
  FUZZ_CHECK(inFinal == outFinal, "the final line without a break was removed or made");
  if (inFinal) {
    FUZZ_CHECK(text.substr(in.back().start) == result.substr(out.back().start), "the final line changed");
  }
  std::size_t j = 0;
  for (std::size_t i = 0; i < out.size() && out[i].complete(); ++i) {
    const std::string_view want = result.substr(out[i].start, out[i].end - out[i].start);
    while (j < in.size() && in[j].complete() && text.substr(in[j].start, in[j].end - in[j].start) != want) ++j;
    FUZZ_CHECK(j < in.size() && in[j].complete(), "a line that the text does not hold in that order");
    ++j;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::int32_t selStart = 0;
  std::int32_t selLength = 0;
  std::memcpy(&selStart, data, 4);
  std::memcpy(&selLength, data + 4, 4);
  const std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);

  CheckWholeLinesKept(text, filelist::WithoutMarkedLines(text, selStart, selLength));

  ui::TextBox tFiles(8192);
  tFiles.SetText(std::string(text));
  tFiles.SetSelection(selStart, selLength);
  const std::string& boxText = tFiles.Text();
  const int s = tFiles.SelStart();
  const int n = tFiles.SelLength() == 0 ? 1 : tFiles.SelLength();
  // Positions count from 1; a plain caret marks the character before it.
  std::vector<bool> marked(boxText.size() + 1, false);
  for (long p = s; p <= static_cast<long>(s) + n - 1; ++p) {
    if (p >= 1 && p <= static_cast<long>(boxText.size())) marked[static_cast<std::size_t>(p)] = true;
  }
  std::string expected;
  for (const Line& l : Lines(boxText)) {
    bool remove = false;
    for (std::size_t p = l.start + 1; p <= l.contentEnd; ++p) remove = remove || marked[p];
    if (!l.complete() || !remove) expected += boxText.substr(l.start, l.end - l.start);
  }
  const std::string result = filelist::WithoutMarkedLines(boxText, s, tFiles.SelLength());
  FUZZ_CHECK(result == expected, "removed lines other than the marked ones");
  CheckWholeLinesKept(boxText, result);
  return 0;
}
