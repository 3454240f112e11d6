// ReportBox: the box headed MC303, which shows the last 14 report lines of the parser,
// oldest first, while a recording runs. SysexIntake shows a line per message.
#pragma once

#include <algorithm>
#include <array>
#include <string>

#include "mc303/SharedFlags.h"
#include "roles/TextBox.h"

namespace mc303 {

class ReportBox {
 public:
  ReportBox(const SharedFlags& flags, roles::TextBox& reportBox) : flags_(flags), reportBox_(reportBox) {}
  // The line carries its own line break.
  void Show(const std::string& line) {
    if (!flags_.RecordingActive) return;
    if (count_ < lines_.size()) {
      lines_[count_++] = line;
    } else {
      // Line 0 drops out; rotating keeps each string's storage for reuse.
      std::rotate(lines_.begin(), lines_.begin() + 1, lines_.end());
      lines_.back() = line;
    }
    std::string text;
    for (std::size_t i = 0; i < count_; ++i) text += lines_[i];
    reportBox_.SetText(std::move(text));
  }
  // The next line starts a new list; until then the box keeps its text.
  void Restart() { count_ = 0; }

 private:
  const SharedFlags& flags_;
  roles::TextBox& reportBox_;
  std::array<std::string, 14> lines_;
  std::size_t count_ = 0;
};

}  // namespace mc303
