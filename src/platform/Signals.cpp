#include "platform/Signals.h"

#include <cerrno>
#include <csignal>
#include <thread>

#include "System.h"
#include "platform/Streams.h"

namespace platform {

using detail::stopsTaken;

int ExitStatusForSignal(int signal) { return 128 + signal; }

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#if VZ_POSIX
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
#endif
    default: return "a signal";
  }
}

#if VZ_POSIX

namespace {

// The write end of the pipe, for the handler, which gets no context of its own; -1
// while no CloseSignals lives.
std::atomic<int> closePipe{-1};

extern "C" void OnCloseSignal(int) {
  const int savedErrno = errno;  // write() in a handler must not disturb the code it interrupted
  const int fd = closePipe.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe already holds a close request: nothing is lost by dropping this one.
    (void)!::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

constexpr int kCloseSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr std::size_t kCloseSignalCount = std::size(kCloseSignals);

}  // namespace

struct CloseSignals::Impl {
  int fds[2] = {-1, -1};
  struct sigaction former[kCloseSignalCount]{};
  bool installed = false;
};

CloseSignals::CloseSignals() : impl_(std::make_unique<Impl>()) {
  if (::pipe(impl_->fds) != 0) {
    impl_->fds[0] = impl_->fds[1] = -1;
    return;
  }
  for (int fd : impl_->fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  closePipe.store(impl_->fds[1], std::memory_order_relaxed);
  struct sigaction action {};
  action.sa_handler = &OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kCloseSignalCount; ++i) {
    sigaction(kCloseSignals[i], nullptr, &impl_->former[i]);
    if (impl_->former[i].sa_handler == SIG_IGN) continue;
    sigaction(kCloseSignals[i], &action, nullptr);
  }
  impl_->installed = true;
}

CloseSignals::~CloseSignals() {
  if (impl_->installed) {
    for (std::size_t i = 0; i < kCloseSignalCount; ++i) sigaction(kCloseSignals[i], &impl_->former[i], nullptr);
    closePipe.store(-1, std::memory_order_relaxed);
  }
  for (int fd : impl_->fds) {
    if (fd >= 0) ::close(fd);
  }
}

int CloseSignals::ReadEnd() const { return impl_->fds[0]; }

void CloseSignals::Drain() {
  char bytes[16];
  while (impl_->fds[0] >= 0 && ::read(impl_->fds[0], bytes, sizeof bytes) > 0) {
  }
}

#else

struct CloseSignals::Impl {};
CloseSignals::CloseSignals() : impl_(std::make_unique<Impl>()) {}
CloseSignals::~CloseSignals() = default;
int CloseSignals::ReadEnd() const { return -1; }
void CloseSignals::Drain() {}

#endif

#if VZ_LINUX

namespace {

// Ignored when the object is made, these stay ignored (nohup ignores SIGHUP for the
// capture to outlive the terminal), but SIGINT, SIGTERM and SIGQUIT: a shell ignores
// SIGINT and SIGQUIT for what it starts in the background, while a kill that names
// them means them.
bool KeepsBeingIgnored(int signal) {
  if (signal == SIGINT || signal == SIGTERM || signal == SIGQUIT) return false;
  struct sigaction former {};
  return ::sigaction(signal, nullptr, &former) == 0 && (former.sa_flags & SA_SIGINFO) == 0 &&
         former.sa_handler == SIG_IGN;
}

}  // namespace

// The signals are blocked in every thread and taken by one thread of their own, so that
// none lands on a MIDI layer's thread in the middle of a system call. SIGPIPE and
// SIGXFSZ, sent by the system to the thread whose write failed, then only make that
// write fail (EPIPE, EFBIG), which the writer says; the ones left pending are taken
// before the signals are let through again.
struct StopSignals::Impl {
  sigset_t set{};
  sigset_t previous{};
  std::atomic<bool> stop{false};
  std::atomic<int> signal{0};
  std::atomic<int> count{0};
  std::atomic<bool> done{false};
  std::thread watcher;

  explicit Impl(StopOn which) {
    sigemptyset(&set);
    if (which == StopOn::InterruptAndTerminate) {
      sigaddset(&set, SIGINT);
      sigaddset(&set, SIGTERM);
    } else {
      for (int s : detail::kOutsideEndingSignals) {  // each ends a capture as SIGINT does
        if (!KeepsBeingIgnored(s)) sigaddset(&set, s);
      }
    }
    WaitsEndOnNextStop();
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    watcher = std::thread([this] {
      const timespec tick{0, 200 * 1000 * 1000};
      while (!done.load()) {
        const int taken = sigtimedwait(&set, nullptr, &tick);
        if (taken > 0) {
          int none = 0;
          signal.compare_exchange_strong(none, taken);
          count.fetch_add(1);
          stop.store(true);
          stopsTaken.fetch_add(1);
        }
      }
    });
  }
  ~Impl() {
    done.store(true);
    watcher.join();
    sigset_t directed;
    sigemptyset(&directed);
    for (int s : {SIGPIPE, SIGXFSZ}) {
      if (sigismember(&set, s) == 1) sigaddset(&directed, s);
    }
    const timespec now{0, 0};
    while (sigtimedwait(&directed, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
};

#else

// Elsewhere a handler sets the flag; only one StopSignals lives at a time.
namespace {
std::atomic<bool> stopFlag{false};
std::atomic<int> stopSignal{0};
std::atomic<int> stopCount{0};
extern "C" void OnStopSignal(int signal) {
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
  stopCount.fetch_add(1);
  stopFlag.store(true);
  stopsTaken.fetch_add(1);
}
}  // namespace

struct StopSignals::Impl {
  std::atomic<bool>& stop = stopFlag;
  std::atomic<int>& signal = stopSignal;
  std::atomic<int>& count = stopCount;
  void (*previousInt)(int) = nullptr;
  void (*previousTerm)(int) = nullptr;
  explicit Impl(StopOn) {
    stopFlag.store(false);
    stopSignal.store(0);
    WaitsEndOnNextStop();
    stopCount.store(0);
    previousInt = std::signal(SIGINT, &OnStopSignal);
    previousTerm = std::signal(SIGTERM, &OnStopSignal);
  }
  ~Impl() {
    std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
    std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
  }
};

#endif

StopSignals::StopSignals(StopOn which) : impl_(std::make_unique<Impl>(which)) {}
StopSignals::~StopSignals() = default;

const std::atomic<bool>& StopSignals::Flag() const { return impl_->stop; }
const std::atomic<int>& StopSignals::Count() const { return impl_->count; }
int StopSignals::Signal() const { return impl_->signal.load(); }

}  // namespace platform
