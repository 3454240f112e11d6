#include "platform/Streams.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "System.h"
#include "platform/Files.h"

namespace platform {

namespace detail {
std::atomic<std::uint32_t> stopsTaken{0};
std::atomic<std::uint32_t> stopsHeld{0};
}  // namespace detail

void WaitsEndOnNextStop() { detail::stopsHeld.store(detail::stopsTaken.load()); }

#if VZ_POSIX

namespace detail {

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

int WriteAll(int fd, const std::uint8_t* data, std::size_t size, bool waitable) {
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

}  // namespace detail

using detail::IsRegularFile;
using detail::WaitUntilReady;
using detail::WriteAll;

namespace {
bool IsFileOf(const std::filesystem::path& path, int fd) {
  struct stat named {}, open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev &&
         named.st_ino == open.st_ino;
}
}  // namespace

void UseBinaryStandardStreams() {}
bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
int WriteStandardOutput(const char* data, std::size_t size) {
  return WriteAll(STDOUT_FILENO, reinterpret_cast<const std::uint8_t*>(data), size,
                          !IsRegularFile(STDOUT_FILENO));
}
bool IsStandardOutput(const std::filesystem::path& path) { return IsFileOf(path, STDOUT_FILENO); }
bool IsStandardInput(const std::filesystem::path& path) { return IsFileOf(path, STDIN_FILENO); }

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

#else  // the portable path: the C and C++ libraries only

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

#endif

}  // namespace platform
