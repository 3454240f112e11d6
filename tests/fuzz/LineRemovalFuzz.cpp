// Fuzz target: removing the lines of the Files box that the caret or selection marks.
//
// Input: the selection start and length as two 32-bit values, then the box's text. Any
// values must not crash; with the values a box holds (text cut to 8192 characters,
// selection clamped, both counting characters where the bytes are UTF-8) exactly the
// lines holding a marked character go, the final line without a break always stays.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "filelist/ListText.h"
#include "roles/TextBox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::int32_t selStart = 0, selLength = 0;
  std::memcpy(&selStart, data, 4);
  std::memcpy(&selLength, data + 4, 4);
  const std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);
  (void)filelist::WithoutMarkedLines(text, selStart, selLength);  // must not crash on any values

  roles::TextBox filesBox(8192);
  filesBox.SetText(std::string(text));
  filesBox.SetSelection(selStart, selLength);
  const std::string& box = filesBox.Text();
  FUZZ_CHECK(filesBox.Length() <= 8192 && roles::CharCount(box) == filesBox.Length(), "the length is not the characters");
  // Positions count characters from 1; a plain caret marks the character before it. A
  // line goes when one of its own characters is marked; a final line without a break
  // stays.
  const long first = filesBox.SelStart();
  const long last = first + (filesBox.SelLength() == 0 ? 1 : filesBox.SelLength()) - 1;
  const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
  std::string expected;
  long position = 0;
  for (std::size_t i = 0; i < box.size();) {
    const std::size_t start = i;
    bool marked = false;
    for (; i < box.size() && !isBreak(box[i]); i += roles::CharBytes(box, i)) {
      ++position;
      marked = marked || (position >= first && position <= last);
    }
    const bool complete = i < box.size();
    for (; i < box.size() && isBreak(box[i]); ++i) ++position;
    if (!complete || !marked) expected += box.substr(start, i - start);
  }
  FUZZ_CHECK(filelist::WithoutMarkedLines(box, filesBox.SelStart(), filesBox.SelLength()) == expected,
             "removed lines other than the marked ones");
  return 0;
}
