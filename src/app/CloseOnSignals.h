// Ends the window program on SIGTERM, SIGINT or SIGHUP as Quit does, so that the
// shut-down closes every MIDI port. A JACK client that simply vanishes holds up the
// server's other clients (a simulated MC-303, a synthesiser) for the server's whole
// client timeout. Logging out sends SIGTERM, and ./run sends it to the program it
// started when it is interrupted. Nobody can be asked then: the end given here runs
// without the question Quit asks during a capture.
//
// The signals become bytes on a pipe (platform::CloseSignals); a notifier on the
// user-interface thread reads them there and calls the end, since nothing of Qt may
// run in a handler.
#pragma once

#include <functional>
#include <memory>

namespace app {

class CloseOnSignals {
 public:
  // end runs on the user-interface thread when one of the signals has come. The former
  // signal handlers come back when this object is destroyed; a signal that was ignored
  // stays ignored. Does nothing where the platform has no such signals.
  explicit CloseOnSignals(std::function<void()> end);
  ~CloseOnSignals();
  CloseOnSignals(const CloseOnSignals&) = delete;
  CloseOnSignals& operator=(const CloseOnSignals&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace app
