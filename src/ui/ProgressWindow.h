// The progress window as the reload and the transmit engine drive it: a blinking label,
// shown without blocking, whose close box asks "Do you want to abort?" and on Yes sets
// AbortRequested.
#pragma once

#include <string>

namespace ui {

class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

class NoProgressWindow final : public ProgressWindow {
 public:
  void SetCaption(const std::string&) override {}
  void Show() override {}
  void Hide() override {}
};

}  // namespace ui
