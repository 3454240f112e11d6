#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

// VZ_PLATFORM_PORTABLE builds the portable path on any system, so that a POSIX machine
// sees it still compiles (the build's vz_platform_portable).
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
#include <linux/futex.h>
#include <sys/syscall.h>

#include <ctime>
#endif

namespace platform {
namespace {

// A name no one can guess ahead, short enough that it fits wherever the target's name
// does: a name near the file system's limit leaves no room for a suffix.
std::string UnpredictableName() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device entropy;
  std::string name = ".vezorizer-";
  for (int i = 0; i < 12; ++i) name += kChars[entropy() % 36];
  return name;
}

std::filesystem::path Beside(const std::filesystem::path& target, const std::string& name) {
  return target.has_parent_path() ? target.parent_path() / name : std::filesystem::path(name);
}

}  // namespace

namespace {

// How many signals StopSignals objects have taken, and how many of them the waits on
// pipes and FIFOs leave alone (WaitsEndOnNextStop); written by the signal side, read by
// the waits.
std::atomic<std::uint32_t> stopsTaken{0};
std::atomic<std::uint32_t> stopsHeld{0};

}  // namespace

void WaitsEndOnNextStop() { stopsHeld.store(stopsTaken.load()); }

// EINTR surfaces only where a stop signal ended a wait (every other one is retried).
std::string ErrorText(int error) {
  return error == EINTR ? std::string("a signal ended the wait for it") : std::generic_category().message(error);
}
bool IsBrokenPipe(int error) { return error == EPIPE; }

#if VZ_POSIX

namespace {

// The new files being written, for the handler that removes them when a signal ends the
// process. Slots are claimed and freed with atomic exchanges, which a handler may use.
constexpr std::size_t kLiveSlots = 128;
std::atomic<const char*> liveFiles[kLiveSlots];

extern "C" void RemoveLiveFilesAndEnd(int signal) {
  for (auto& slot : liveFiles) {
    if (const char* path = slot.exchange(nullptr)) ::unlink(path);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered, with the usual outcome, when the handler returns
}

// Every signal that ends a process by default and may be caught, but those that stand
// for a fault of the program itself (SIGSEGV and its kind, which sanitizers take): a
// hangup, a file size limit (SIGXFSZ), a timer or a user's signal ends a run as SIGINT
// does, and must take the new file along just the same.
constexpr int kEndingSignals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Installed once, and only where the signal would end the process anyway: a program
// that handles or ignores these signals itself keeps its own way.
void InstallRemovalOnSignals() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  for (int signal : kEndingSignals) {
    struct sigaction former {};
    if (::sigaction(signal, nullptr, &former) != 0) continue;
    if ((former.sa_flags & SA_SIGINFO) != 0 || former.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = &RemoveLiveFilesAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
  }
}

int ClaimLiveSlot(const char* path) {
  InstallRemovalOnSignals();
  for (std::size_t i = 0; i < kLiveSlots; ++i) {
    const char* none = nullptr;
    if (liveFiles[i].compare_exchange_strong(none, path)) return static_cast<int>(i);
  }
  return -1;  // more new files at once than slots: this one is only removed on failure
}

void FreeLiveSlot(int& slot) {
  if (slot >= 0) liveFiles[static_cast<std::size_t>(slot)].store(nullptr);
  slot = -1;
}

bool StopCame() { return stopsTaken.load() != stopsHeld.load(); }

// Waits until fd is ready for events (or hung up, or in error: the read or write that
// follows tells), in steps short enough that a stop signal is seen at once: 0, EINTR
// when one came, or poll's own error.
int WaitUntilReady(int fd, short events) {
  for (;;) {
    if (StopCame()) return EINTR;
    pollfd entry{fd, events, 0};
    const int n = ::poll(&entry, 1, 100);
    if (n > 0) return 0;
    if (n < 0 && errno != EINTR) return errno;
  }
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// waitable: fd is a pipe, FIFO, terminal or device, where a write may wait for a reader
// for ever. It is then written a pipe's atomic piece at a time, each once the reader
// has room for it, so that the wait ends on a stop signal (EINTR); an fd of our own
// open is non-blocking there as well.
int WriteAll(int fd, const std::uint8_t* data, std::size_t size, bool waitable = false) {
  while (size > 0) {
    if (waitable) {
      if (const int error = WaitUntilReady(fd, POLLOUT)) return error;
    }
    const ssize_t n = ::write(fd, data, waitable ? std::min<std::size_t>(size, PIPE_BUF) : size);
    if (n < 0) {
      if (errno == EINTR || (waitable && errno == EAGAIN)) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

void UseBinaryStandardStreams() {}
bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
int WriteStandardOutput(const char* data, std::size_t size) {
  return WriteAll(STDOUT_FILENO, reinterpret_cast<const std::uint8_t*>(data), size, !IsRegularFile(STDOUT_FILENO));
}

std::filesystem::path HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  const std::filesystem::path home = found->pw_dir;
  std::error_code ec;
  return home != "/" && std::filesystem::is_directory(home, ec) ? home : std::filesystem::path();
}

std::FILE* OpenForReading(const std::filesystem::path& path, int& error) {
  // Opened without waiting: a FIFO's open would block until a writer comes, deaf to a
  // stop signal; the reads wait for the writer instead.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    error = errno;
    ::close(fd);
  }
  return file;
}

std::size_t ReadWaiting(std::FILE* file, std::uint8_t* data, std::size_t size, int& error) {
  error = 0;
  const int fd = ::fileno(file);
  if (fd < 0 || IsRegularFile(fd)) {
    const std::size_t n = std::fread(data, 1, size, file);
    if (n < size && std::ferror(file) != 0) error = errno != 0 ? errno : EIO;
    return n;
  }
  std::size_t got = 0;
  while (got < size) {
    if ((error = WaitUntilReady(fd, POLLIN)) != 0) break;
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error = errno;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  return got;
}

namespace {
bool IsFileOf(const std::filesystem::path& path, int fd) {
  struct stat named {}, open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}
}  // namespace

bool IsStandardOutput(const std::filesystem::path& path) { return IsFileOf(path, STDOUT_FILENO); }
bool IsStandardInput(const std::filesystem::path& path) { return IsFileOf(path, STDIN_FILENO); }

std::FILE* OpenBytesForReading(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return std::fopen("/dev/null", "rb");
  return ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

struct SafeFile::State {
  int fd = -1;
  std::string target;    // the file that receives the bytes: a link's target, resolved
  std::string temp;      // the new file beside it; empty when writing directly
  bool inPlace = false;  // hard-linked: the new file is copied into the target at the end
  bool waitable = false;  // written directly to a pipe, FIFO, terminal or device
  int liveSlot = -1;
  std::uint64_t size = 0;
  std::optional<std::string> error;

  std::optional<std::string> Fail(int number) {
    if (!error) error = ErrorText(number);
    return error;
  }
  void Drop() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temp.empty()) ::unlink(temp.c_str());
    FreeLiveSlot(liveSlot);
    temp.clear();
  }
};

std::optional<std::string> SafeFile::Open(const std::filesystem::path& path) {
  Discard();
  if (path.empty()) return std::string("the name is empty");
  state_ = std::make_unique<State>();
  State& s = *state_;

  // Follow the chain of links by hand, to learn where the file they end at lives: the
  // new file must be made there for the rename to replace it.
  std::string target = path.string();
  struct stat linkInfo {};
  bool targetExists = false;
  bool throughOpenFile = false;
  for (int depth = 0;; ++depth) {
    if (::lstat(target.c_str(), &linkInfo) != 0) {
      if (errno != ENOENT) return s.Fail(errno);
      break;  // a new file, or a dangling link's target
    }
    if (!S_ISLNK(linkInfo.st_mode)) {
      targetExists = true;
      break;
    }
    if (depth == 40) return s.Fail(ELOOP);
    std::vector<char> text(static_cast<std::size_t>(linkInfo.st_size > 0 ? linkInfo.st_size : 255) + 1);
    const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
    if (n < 0) return s.Fail(errno);
    const std::string next(text.data(), static_cast<std::size_t>(n));
    if (next.empty()) return s.Fail(ENOENT);
    // Another process's open file (a shell's redirection): replacing the file would
    // leave that process writing to one that is gone.
    if (next.rfind("/proc/", 0) == 0 || next.rfind("/dev/fd/", 0) == 0) throughOpenFile = true;
    target = next.front() == '/' ? next : Beside(target, next).string();
  }

  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return s.Fail(errno);
  if (exists && S_ISDIR(info.st_mode)) return std::string("is a directory");
  // A device or FIFO is written, never replaced; so is a file reached through an open
  // file (/dev/stdout leads to /proc/self/fd/1, whose link text may name no real file).
  const bool resolvedElsewhere = exists && (throughOpenFile || !targetExists || linkInfo.st_dev != info.st_dev ||
                                            linkInfo.st_ino != info.st_ino);
  if (exists && (!S_ISREG(info.st_mode) || resolvedElsewhere)) {
    // Non-blocking: a FIFO no one reads yet refuses the open (ENXIO) instead of holding
    // it up, deaf to a stop signal, so it is tried again until a reader comes.
    s.waitable = !S_ISREG(info.st_mode);
    const int flags = O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC | (s.waitable ? O_NONBLOCK : 0);
    while ((s.fd = ::open(path.c_str(), flags)) < 0 && errno == ENXIO && S_ISFIFO(info.st_mode)) {
      if (StopCame()) return s.Fail(EINTR);
      ::poll(nullptr, 0, 20);
    }
    if (s.fd < 0) return s.Fail(errno);
    s.target = path.string();
    return std::nullopt;
  }
  if (exists) {
    // Root may write anything, so the permission bits are asked as well: a file no one
    // may write stays as it is.
    if ((info.st_mode & 0222) == 0) return std::string("is read-only");
    if (::access(target.c_str(), W_OK) != 0) return s.Fail(errno);
  }
  s.target = target;
  s.inPlace = exists && info.st_nlink > 1;

  for (int attempt = 0; attempt < 100 && s.fd < 0; ++attempt) {
    s.temp = Beside(target, UnpredictableName()).string();
    // O_EXCL also refuses a link planted under the name, dangling or not.
    s.fd = ::open(s.temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : 0666);
    if (s.fd < 0 && errno != EEXIST) {
      const int error = errno;
      s.temp.clear();
      return s.Fail(error);
    }
  }
  if (s.fd < 0) {
    s.temp.clear();
    return s.Fail(EEXIST);
  }
  s.liveSlot = ClaimLiveSlot(s.temp.c_str());
  if (exists && !s.inPlace) {
    // The owner first: changing it clears the set-id bits the mode then sets again.
    if (::fchown(s.fd, info.st_uid, info.st_gid) != 0) (void)!::fchown(s.fd, static_cast<uid_t>(-1), info.st_gid);
    if (::fchmod(s.fd, info.st_mode & 07777) != 0) return s.Fail(errno);
  }
  return std::nullopt;
}

std::optional<std::string> SafeFile::Write(const std::uint8_t* data, std::size_t size) {
  if (!state_) return std::string("not open");
  State& s = *state_;
  if (s.error) return s.error;
  if (const int error = WriteAll(s.fd, data, size, s.waitable)) return s.Fail(error);
  s.size += size;
  return std::nullopt;
}

std::optional<std::string> SafeFile::Commit() {
  if (!state_) return std::string("not open");
  State& s = *state_;
  if (s.error) {
    const std::string error = *s.error;
    Discard();
    return error;
  }
  int error = 0;
  // Synced before it takes the old file's place: after a crash the name holds the old
  // contents or the new ones, never an empty file.
  if (!s.temp.empty() && ::fsync(s.fd) != 0 && errno != EINVAL) error = errno;
  if (::close(s.fd) != 0 && error == 0) error = errno;
  s.fd = -1;
  if (error == 0 && !s.temp.empty() && !s.inPlace && ::rename(s.temp.c_str(), s.target.c_str()) != 0) error = errno;
  if (error == 0 && s.inPlace) {
    const int in = ::open(s.temp.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = in < 0 ? -1 : ::open(s.target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    std::vector<std::uint8_t> chunk(65536);
    for (;;) {
      if (in < 0 || out < 0) {
        error = errno;
        break;
      }
      const ssize_t n = ::read(in, chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n < 0 || ::ftruncate(out, static_cast<off_t>(s.size)) != 0 || ::fsync(out) != 0) error = errno;
        break;
      }
      if ((error = WriteAll(out, chunk.data(), static_cast<std::size_t>(n))) != 0) break;
    }
    if (out >= 0 && ::close(out) != 0 && error == 0) error = errno;
    if (in >= 0) ::close(in);
    if (error != 0) {
      // The old contents may be half overwritten by now; the new ones stay whole beside.
      FreeLiveSlot(s.liveSlot);
      const std::string kept = s.temp;
      s.temp.clear();
      Discard();
      return ErrorText(error) + "; the new contents are kept in " + kept;
    }
    ::unlink(s.temp.c_str());
  }
  if (error != 0) {
    Discard();
    return ErrorText(error);
  }
  FreeLiveSlot(s.liveSlot);
  s.temp.clear();
  state_.reset();
  return std::nullopt;
}

#else  // the portable path: the C and C++ libraries only

namespace {
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wide.c_str());
#else
  return std::fopen(path.string().c_str(), mode);
#endif
}
}  // namespace

void UseBinaryStandardStreams() {
#ifdef _WIN32
  (void)_setmode(_fileno(stdin), _O_BINARY);
  (void)_setmode(_fileno(stdout), _O_BINARY);
#endif
}
bool IsStandardOutput(const std::filesystem::path&) { return false; }
bool IsStandardInput(const std::filesystem::path&) { return false; }
bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return false;
#endif
}
int WriteStandardOutput(const char* data, std::size_t size) {
  errno = 0;
  if (std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

std::filesystem::path HomeDirectory() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? std::filesystem::path(home) : std::filesystem::path();
}

std::FILE* OpenForReading(const std::filesystem::path& path, int& error) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) error = errno;
  return file;
}

std::size_t ReadWaiting(std::FILE* file, std::uint8_t* data, std::size_t size, int& error) {
  error = 0;
  const std::size_t n = std::fread(data, 1, size, file);
  if (n < size && std::ferror(file) != 0) error = errno != 0 ? errno : EIO;
  return n;
}

std::FILE* OpenBytesForReading(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  if (std::fwrite(data, 1, size, f) != size) {
    std::fclose(f);
    return nullptr;
  }
  std::rewind(f);
  return f;
}

struct SafeFile::State {
  std::FILE* file = nullptr;
  std::filesystem::path target;
  std::filesystem::path temp;
  std::optional<std::string> error;
  void Drop() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    std::error_code ec;
    if (!temp.empty()) std::filesystem::remove(temp, ec);
    temp.clear();
  }
};

std::optional<std::string> SafeFile::Open(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  Discard();
  if (path.empty()) return std::string("the name is empty");
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) return std::string("is a directory");
  if (fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
    return std::string("is read-only");
  }
  state_ = std::make_unique<State>();
  State& s = *state_;
  s.target = fs::is_symlink(fs::symlink_status(path, ec)) ? fs::weakly_canonical(path, ec) : path;
  for (int attempt = 0; attempt < 100 && s.file == nullptr; ++attempt) {
    s.temp = Beside(s.target, UnpredictableName());
    s.file = OpenFile(s.temp, "wbx");  // exclusive: never an existing name
    if (s.file == nullptr && errno != EEXIST) break;
  }
  if (s.file == nullptr) {
    const int error = errno;
    s.temp.clear();
    return ErrorText(error);
  }
  if (fs::exists(status)) fs::permissions(s.temp, status.permissions(), ec);
  return std::nullopt;
}

std::optional<std::string> SafeFile::Write(const std::uint8_t* data, std::size_t size) {
  if (!state_) return std::string("not open");
  State& s = *state_;
  if (!s.error && std::fwrite(data, 1, size, s.file) != size) s.error = ErrorText(errno);
  return s.error;
}

std::optional<std::string> SafeFile::Commit() {
  if (!state_) return std::string("not open");
  State& s = *state_;
  std::optional<std::string> error = s.error;
  if (std::fclose(s.file) != 0 && !error) error = ErrorText(errno);
  s.file = nullptr;
  std::error_code ec;
  if (!error) std::filesystem::rename(s.temp, s.target, ec);
  if (!error && ec) error = ec.message();
  if (!error) s.temp.clear();
  Discard();
  return error;
}

#endif

SafeFile::SafeFile() = default;
SafeFile::~SafeFile() { Discard(); }

void SafeFile::Discard() {
  if (state_) state_->Drop();
  state_.reset();
}

std::optional<std::string> WriteFileSafely(const std::filesystem::path& path, const std::uint8_t* data,
                                           std::size_t size) {
  SafeFile file;
  if (auto error = file.Open(path)) return error;
  if (auto error = file.Write(data, size)) return error;
  return file.Commit();
}

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

// ---- CloseSignals

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

bool CanCreateFileIn(const std::filesystem::path& directory) {
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) return false;
  // A name of this process's own, created exclusively, so no one else's file is touched.
  const auto probe = directory / (".vezorizer-write-test-" + std::to_string(::getpid()));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  std::filesystem::remove(probe, ec);
  return true;
}

#else

struct CloseSignals::Impl {};
CloseSignals::CloseSignals() : impl_(std::make_unique<Impl>()) {}
CloseSignals::~CloseSignals() = default;
int CloseSignals::ReadEnd() const { return -1; }
void CloseSignals::Drain() {}

bool CanCreateFileIn(const std::filesystem::path& directory) {
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) return false;
  const auto probe = directory / ".vezorizer-write-test";
  // "x": created exclusively, so no one else's file is touched.
  std::FILE* f = OpenFile(probe, "wbx");
  if (f == nullptr) return false;
  std::fclose(f);
  std::filesystem::remove(probe, ec);
  return true;
}

#endif

// ---- Waiting on a word

#if VZ_LINUX

bool WaitWhileWordIs(std::atomic<std::uint32_t>& word, std::uint32_t value, std::chrono::milliseconds timeout) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "futex needs a plain 32-bit word");
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  ts.tv_nsec = static_cast<long>((timeout.count() % 1000) * 1000000);
  // Sleeps only while the word still holds value, so a wake between the caller's last
  // look and this call is not missed.
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, &ts, nullptr, 0);
  return true;
}

void WakeWordWaiter(std::atomic<std::uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

#else

bool WaitWhileWordIs(std::atomic<std::uint32_t>&, std::uint32_t, std::chrono::milliseconds) { return false; }
void WakeWordWaiter(std::atomic<std::uint32_t>&) {}

#endif

// ---- StopSignals

#if VZ_LINUX

namespace {

// The signals that end a capture as SIGINT does: every one that would end the process
// and comes from outside it (a closed terminal, Ctrl-\\, a timer, kill).
constexpr int kEveryStopSignal[] = {
    SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPIPE, SIGXFSZ,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

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
      for (int s : kEveryStopSignal) {
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
