// The progress window as the reload and the transmit engine drive it: a blinking label,
// shown without blocking, whose close box asks "Do you want to abort?" and on Yes sets
// AbortRequested; the question does not block either. A Send adds a bar of the bytes
// handed over and the time left.
#pragma once

#include <cstdint>
#include <string>

namespace roles {

class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Bytes handed over of the listed files' total, and the seconds still to go; shown
  // until the window is hidden. Only a Send has them.
  virtual void SetProgress(std::int64_t /*doneBytes*/, std::int64_t /*totalBytes*/, std::int64_t /*secondsLeft*/) {}
  // A Send that was asked to stop finishes the part it is in (named, "U10 pattern"),
  // so that the device never holds half of it: the window says so, and asking to stop
  // again then means at once.
  virtual void SetFinishing(const std::string& /*part*/) {}
};

class NoProgressWindow final : public ProgressWindow {
 public:
  void SetCaption(const std::string&) override {}
  void Show() override {}
  void Hide() override {}
};

}  // namespace roles
