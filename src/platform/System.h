// Inside the platform library only: which system path is built, and what its files
// share. VZ_PLATFORM_PORTABLE builds the portable path on any system, so that a POSIX
// machine sees it still compiles (the build's vz_platform_portable).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#if (defined(__unix__) || defined(__APPLE__)) && !defined(VZ_PLATFORM_PORTABLE)
#define VZ_POSIX 1
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif
#if defined(__linux__) && !defined(VZ_PLATFORM_PORTABLE)
#define VZ_LINUX 1
#endif

namespace platform::detail {

// How many signals StopSignals objects have taken, and how many of them the waits on
// pipes and FIFOs leave alone (WaitsEndOnNextStop); written by the signal side, read by
// the waits.
extern std::atomic<std::uint32_t> stopsTaken;
extern std::atomic<std::uint32_t> stopsHeld;
inline bool StopCame() { return stopsTaken.load() != stopsHeld.load(); }

#if VZ_POSIX
// Waits until fd is ready for events (or hung up, or in error: the read or write that
// follows tells), in steps short enough that a stop signal is seen at once: 0, EINTR
// when one came, or poll's own error.
int WaitUntilReady(int fd, short events);
bool IsRegularFile(int fd);
// waitable: fd is a pipe, FIFO, terminal or device, where a write may wait for a reader
// for ever. It is then written a pipe's atomic piece at a time, each once the reader
// has room for it, so that the wait ends on a stop signal (EINTR); an fd of our own
// open is non-blocking there as well. 0, or the error number.
int WriteAll(int fd, const std::uint8_t* data, std::size_t size, bool waitable = false);

// Every signal that ends a process by default and comes from outside it (a closed
// terminal, Ctrl-\\, a timer, a file size limit, kill): each ends a run as SIGINT does.
inline constexpr int kOutsideEndingSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
#endif

}  // namespace platform::detail
