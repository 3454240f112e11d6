// ports and capture: the subcommands that reach a MIDI system, on any MidiPorts layer
// (RtMidi from the command line, a fake in tests).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "midi/DeviceSession.h"
#include "midi/MidiPorts.h"

namespace cli {

// A device list with nothing behind it but its entries.
class EntryList final : public midi::DeviceList {
 public:
  void Clear() override { items_.clear(); }
  void AddItem(const std::string& name) override { items_.push_back(name); }
  int ListCount() const override { return static_cast<int>(items_.size()); }
  std::string Item(int position) const override {
    return position >= 0 && position < ListCount() ? items_[static_cast<std::size_t>(position)] : std::string();
  }
  int ListIndex() const override { return index_; }
  void SetListIndex(int position) override { index_ = position; }
  const std::vector<std::string>& Items() const { return items_; }

 private:
  std::vector<std::string> items_;
  int index_ = -1;
};

int RunPorts(midi::MidiPorts& ports, Console& console);

// The slot that a --port value names among a device list's entries (kind: "input" or
// "output"): a slot number, a whole name, or a part of one name only, case aside.
// Otherwise nothing, and stderr says why: no entry matches, or several do (listed).
std::optional<int> ChooseSlot(const std::string& wanted, const std::vector<std::string>& names, const std::string& kind,
                              Console& console);

// When a capture ends: once stopSignalled, or once idleTimeout has passed since the
// last received byte (only after a first byte). Asked whenever the receive loop has
// nothing to do, so a capture never ends with received bytes still unparsed.
class CaptureEnd {
 public:
  explicit CaptureEnd(std::optional<std::chrono::milliseconds> idleTimeout) : idleTimeout_(idleTimeout) {}
  bool Reached(std::uint64_t bytesReceived, std::chrono::steady_clock::time_point now, bool stopSignalled);

 private:
  std::optional<std::chrono::milliseconds> idleTimeout_;
  std::uint64_t lastCount_ = 0;
  std::chrono::steady_clock::time_point lastByteTime_{};
};

struct CaptureOptions {
  std::optional<std::string> port;  // slot number or a case-insensitive part of its name
  std::optional<double> idleTimeoutSeconds;
  std::string overall;
  std::optional<std::string> base;
  // Which signal set the stop flag, for the exit status of a capture it ends before its
  // recording begins (while OVERALL waits for a FIFO's reader); SIGINT when not given.
  std::function<int()> stopSignal;
};

// Test programs run the same capture with something done inside every event pump (a
// handler that blocks, as a modal dialog would).
struct CaptureHooks {
  std::function<void(std::uint64_t bytesReceived)> onPump;
};

// stop: set by the caller (SIGINT, SIGTERM, SIGHUP, ...) from any thread. OVERALL (and
// the piece files' folder) must be writable before the recording starts; a recording
// that still cannot be saved at the end (a FIFO whose reader does not read it before a
// second signal) is kept in a file the message names.
int RunCapture(const CaptureOptions& options, midi::MidiPorts& ports, const std::atomic<bool>& stop,
               Console& console, const CaptureHooks& hooks = {});

// The longest --idle-timeout: a day.
inline constexpr double kMaxIdleTimeoutSeconds = 86400.0;

}  // namespace cli
