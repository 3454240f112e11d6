#include "app/CloseOnSignals.h"

#include <QSocketNotifier>
#include <QWidget>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#endif

namespace app {

#ifndef _WIN32
namespace {

// The write end of the pipe, for the handler, which gets no context of its own. Only
// one CloseOnSignals exists at a time (the program's); -1 while none does.
std::atomic<int> signalPipe{-1};

extern "C" void OnCloseSignal(int) {
  const int savedErrno = errno;  // write() in a handler must not disturb the code it interrupted
  const int fd = signalPipe.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe already holds a close request: nothing is lost by dropping this one.
    (void)!::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

}  // namespace

struct CloseOnSignals::Impl {
  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  std::array<struct sigaction, kSignals.size()> former{};
  bool installed = false;
};

CloseOnSignals::CloseOnSignals(QWidget& window) : impl_(std::make_unique<Impl>()) {
  if (::pipe2(impl_->fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fds[0], QSocketNotifier::Read);
  Impl* impl = impl_.get();
  QObject::connect(impl->notifier.get(), &QSocketNotifier::activated, [impl, &window] {
    char bytes[16];
    while (::read(impl->fds[0], bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  signalPipe.store(impl_->fds[1], std::memory_order_relaxed);
  struct sigaction action {};
  action.sa_handler = &OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    sigaction(kSignals[i], nullptr, &impl_->former[i]);
    // An ignored signal stays ignored: nohup ignores SIGHUP, and a shell ignores
    // SIGINT for what it starts in the background, so a Ctrl-C meant for the shell
    // does not reach it.
    if (impl_->former[i].sa_handler == SIG_IGN) continue;
    sigaction(kSignals[i], &action, nullptr);
  }
  impl_->installed = true;
}

CloseOnSignals::~CloseOnSignals() {
  if (impl_->installed) {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &impl_->former[i], nullptr);
    signalPipe.store(-1, std::memory_order_relaxed);
  }
  impl_->notifier.reset();
  for (int fd : impl_->fds) {
    if (fd >= 0) ::close(fd);
  }
}

#else

struct CloseOnSignals::Impl {};
CloseOnSignals::CloseOnSignals(QWidget&) : impl_(std::make_unique<Impl>()) {}
CloseOnSignals::~CloseOnSignals() = default;

#endif

}  // namespace app
