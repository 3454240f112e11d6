// The signals that ask a run to stop or the window to close, turned into something the
// program looks at on its own thread.
#pragma once

#include <atomic>
#include <memory>

namespace platform {

// Signals turned into a flag instead of ending the process, for as long as the object
// lives: SIGINT and SIGTERM, or every signal that would end it and may be caught
// (SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, ...; on Linux). Made before any thread is started
// (a MIDI layer's), so that no such thread is the one a signal lands on. Each signal
// also ends the waits below on pipes, FIFOs and terminals.
enum class StopOn { InterruptAndTerminate, EveryEndingSignal };
class StopSignals {
 public:
  explicit StopSignals(StopOn which = StopOn::InterruptAndTerminate);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  const std::atomic<bool>& Flag() const;
  // How many signals have asked to stop so far: a second one may ask for more haste.
  const std::atomic<int>& Count() const;
  // The number of the first signal that asked to stop; 0 while none has.
  int Signal() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", or "a signal" for any other number.
const char* SignalName(int signal);

// SIGTERM, SIGINT and SIGHUP turned, for as long as the object lives, into a byte on a
// pipe whose reading end an event loop watches: a handler may do nothing else, and the
// loop does the rest on its own thread. A signal that was ignored when it was made
// stays ignored (nohup ignores SIGHUP; a shell ignores SIGINT for what it starts in the
// background). Only one lives at a time. Where the system has no such signals, or the
// pipe cannot be made, ReadEnd() is -1 and nothing is caught.
class CloseSignals {
 public:
  CloseSignals();
  ~CloseSignals();
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;
  int ReadEnd() const;
  // Reads every byte waiting, so that the watcher is told only of new signals.
  void Drain();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The exit status of a run ended by a signal: 128 plus its number (130 for SIGINT,
// 143 for SIGTERM).
int ExitStatusForSignal(int signal);

}  // namespace platform
