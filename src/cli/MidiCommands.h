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

#include "midi/MidiPorts.h"

namespace cli {

int RunPorts(bool json, midi::MidiPorts& ports, std::ostream& out = std::cout, std::ostream& err = std::cerr);

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
};

// Test programs run the same capture with something done inside every event pump (a
// handler that blocks, as a modal dialog would).
struct CaptureHooks {
  std::function<void(std::uint64_t bytesReceived)> onPump;
};

// stop: set by the caller (SIGINT, SIGTERM) from any thread.
int RunCapture(const CaptureOptions& options, midi::MidiPorts& ports, const std::atomic<bool>& stop,
               const CaptureHooks& hooks = {}, std::ostream& out = std::cout, std::ostream& err = std::cerr);

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts from now
// on, and turns them into a flag set by a thread of its own. Make it before any MIDI
// layer, so that no layer thread is the one a signal interrupts.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  const std::atomic<bool>& Flag() const { return stop_; }

 private:
  struct Impl;
  std::atomic<bool> stop_{false};
  Impl* impl_;
};

}  // namespace cli
