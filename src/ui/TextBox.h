// The exact text of one multi-line box of the program, with its hard maximum length,
// caret and selection. The core reads and writes boxes only through this; a window
// widget mirrors it for display, because widgets fold CR LF pairs into one paragraph
// break and the program's positions and lengths count both characters.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace ui {

class TextBox {
 public:
  explicit TextBox(int maxLength) : maxLength_(maxLength) {}
  TextBox(const TextBox&) = delete;
  TextBox& operator=(const TextBox&) = delete;

  const std::string& Text() const { return text_; }
  int Length() const { return static_cast<int>(text_.size()); }
  int MaxLength() const { return maxLength_; }

  // A text longer than the maximum keeps only its first MaxLength() characters, the
  // rest is dropped without an error. The caret goes to the start, as a newly set
  // text box caret does.
  void SetText(std::string text) {
    if (maxLength_ > 0 && text.size() > static_cast<std::size_t>(maxLength_)) {
      text.resize(static_cast<std::size_t>(maxLength_));
    }
    text_ = std::move(text);
    selStart_ = 0;
    selLength_ = 0;
    Changed();
  }

  // Appending is what the busiest boxes do; it saves the copy of SetText(Text() + s).
  void Append(std::string_view more) {
    std::size_t room = maxLength_ > 0 ? static_cast<std::size_t>(maxLength_) - text_.size() : more.size();
    text_.append(more.substr(0, std::min(room, more.size())));
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

  // The window's mirror listens here; the transmit buffer size box saves its setting
  // here, since the program's own assignments count as changes too.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  void SetOnCaret(std::function<void()> onCaret) { onCaret_ = std::move(onCaret); }

 private:
  void Changed() {
    if (onChange_) onChange_();
  }

  std::string text_;
  int maxLength_;  // 0 means no limit
  int selStart_ = 0;
  int selLength_ = 0;
  std::function<void()> onChange_;
  std::function<void()> onCaret_;
};

}  // namespace ui
