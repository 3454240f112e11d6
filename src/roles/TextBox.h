// The exact text of one multi-line box of the program, with its hard maximum length,
// caret and selection. The core reads and writes boxes only through this; a window
// widget mirrors it for display, because widgets fold CR LF pairs into one paragraph
// break and the program's positions and lengths count both characters.
//
// The text is UTF-8 (paths as the file dialog gives them), but lengths, the maximum
// and positions count characters, as a user does: an "é" in a path is one character
// of the 8192 the Files box holds, not two. A byte that starts no valid sequence is a
// character of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace roles {

// Length of the valid UTF-8 sequence starting at i and its code point, or 0.
inline int Utf8Sequence(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int n = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07u;
  } else {
    return 0;
  }
  if (i + static_cast<std::size_t>(n) > s.size()) return 0;
  for (int k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and values past Unicode are not text.
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// The bytes of the character at byte i: its sequence, or the one byte.
inline std::size_t CharBytes(std::string_view s, std::size_t i) {
  if (static_cast<unsigned char>(s[i]) < 0x80) return 1;
  char32_t cp = 0;
  return static_cast<std::size_t>(std::max(Utf8Sequence(s, i, cp), 1));
}

inline int CharCount(std::string_view s) {
  int n = 0;
  for (std::size_t i = 0; i < s.size(); i += CharBytes(s, i)) ++n;
  return n;
}

// The byte offset of character position `chars` (0-based), or the text's size past its end.
inline std::size_t ByteOffset(std::string_view s, int chars) {
  std::size_t i = 0;
  for (int n = 0; n < chars && i < s.size(); ++n) i += CharBytes(s, i);
  return i;
}

class TextBox {
 public:
  explicit TextBox(int maxLength) : maxLength_(maxLength) {}
  TextBox(const TextBox&) = delete;
  TextBox& operator=(const TextBox&) = delete;

  const std::string& Text() const { return text_; }
  // In characters; Text().size() is the bytes.
  int Length() const { return length_; }
  int MaxLength() const { return maxLength_; }

  // A text longer than the maximum keeps only its first MaxLength() characters, the
  // rest is dropped without an error. The caret goes to the start, as a newly set
  // text box caret does.
  void SetText(std::string text) {
    int length = CharCount(text);
    if (maxLength_ > 0 && length > maxLength_) {
      text.resize(ByteOffset(text, maxLength_));
      length = maxLength_;
    }
    text_ = std::move(text);
    length_ = length;
    selStart_ = 0;
    selLength_ = 0;
    Changed();
  }

  // Appending is what the busiest boxes do; it saves the copy of SetText(Text() + s).
  void Append(std::string_view more) {
    if (maxLength_ > 0) more = more.substr(0, ByteOffset(more, maxLength_ - length_));
    // A text that ends in a stray byte may join the first bytes appended into one
    // character: then the whole is counted again.
    const bool mayJoin = !text_.empty() && static_cast<unsigned char>(text_.back()) >= 0x80;
    text_.append(more);
    length_ = mayJoin ? CharCount(text_) : length_ + CharCount(more);
    Changed();
  }

  // Selection start counts the characters before the caret or selection (0-based).
  int SelStart() const { return selStart_; }
  int SelLength() const { return selLength_; }
  void SetSelection(int start, int length) {
    selStart_ = std::clamp(start, 0, Length());
    selLength_ = std::clamp(length, 0, Length() - selStart_);
    if (onCaret_) onCaret_();
  }
  void SetCaretToEnd() { SetSelection(Length(), 0); }

  // Asks the window to scroll the character at this position into sight, leaving the
  // caret where it is.
  void ScrollIntoView(int position) {
    if (onScroll_) onScroll_(std::clamp(position, 0, Length()));
  }

  // The window's mirror listens here; the transmit buffer size box saves its setting
  // here, since the program's own assignments count as changes too.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  void SetOnCaret(std::function<void()> onCaret) { onCaret_ = std::move(onCaret); }
  void SetOnScroll(std::function<void(int)> onScroll) { onScroll_ = std::move(onScroll); }

 private:
  void Changed() {
    if (onChange_) onChange_();
  }

  std::string text_;
  int length_ = 0;  // characters
  int maxLength_;   // 0 means no limit
  int selStart_ = 0;
  int selLength_ = 0;
  std::function<void()> onChange_;
  std::function<void()> onCaret_;
  std::function<void(int)> onScroll_;
};

}  // namespace roles
