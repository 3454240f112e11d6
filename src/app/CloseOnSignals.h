// Ends the window program on SIGTERM, SIGINT or SIGHUP as if the user had closed the
// main window, so that the shut-down closes every MIDI port. A JACK client that simply
// vanishes holds up the server's other clients (a simulated MC-303, a synthesiser) for
// the server's whole client timeout. Logging out sends SIGTERM, and ./run sends it to
// the program it started when it is interrupted.
//
// The signals become bytes on a pipe (platform::CloseSignals); a notifier on the
// user-interface thread reads them there and closes the window, since nothing of Qt may
// run in a handler.
#pragma once

#include <memory>

class QSocketNotifier;
class QWidget;

namespace app {

class CloseOnSignals {
 public:
  // window must outlive this object. The signals' former handlers come back when it
  // is destroyed; a signal that was ignored stays ignored. Does nothing where the
  // platform has no such signals.
  explicit CloseOnSignals(QWidget& window);
  ~CloseOnSignals();
  CloseOnSignals(const CloseOnSignals&) = delete;
  CloseOnSignals& operator=(const CloseOnSignals&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace app
