#include "platform/SafeFile.h"

#include <cerrno>
#include <random>
#include <system_error>
#include <vector>

#include "System.h"
#include "platform/Files.h"

namespace platform {

using detail::StopCame;
#if VZ_POSIX
using detail::WriteAll;
#endif

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

// Installed once, and only where the signal would end the process anyway: a program
// that handles or ignores these signals itself keeps its own way. An abort ends a run as
// well; the program's own faults (SIGSEGV and its kind) are left to the sanitizers.
void InstallRemovalOnSignals() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  const auto install = [](int signal) {
    struct sigaction former {};
    if (::sigaction(signal, nullptr, &former) != 0) return;
    if ((former.sa_flags & SA_SIGINFO) != 0 || former.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = &RemoveLiveFilesAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
  };
  install(SIGABRT);
  for (int signal : detail::kOutsideEndingSignals) install(signal);
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

// Follows the chain of links from target by hand, to learn where the file they end at
// lives: the new file must be made there for the rename to replace it. 0, or the error
// number; exists is false for a new file or a dangling link's target.
int FollowLinks(std::string& target, struct stat& linkInfo, bool& exists, bool& throughOpenFile) {
  for (int depth = 0;; ++depth) {
    if (::lstat(target.c_str(), &linkInfo) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(linkInfo.st_mode)) {
      exists = true;
      return 0;
    }
    if (depth == 40) return ELOOP;
    std::vector<char> text(static_cast<std::size_t>(linkInfo.st_size > 0 ? linkInfo.st_size : 255) + 1);
    const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
    if (n < 0) return errno;
    const std::string next(text.data(), static_cast<std::size_t>(n));
    if (next.empty()) return ENOENT;
    // Another process's open file (a shell's redirection): replacing the file would
    // leave that process writing to one that is gone.
    if (next.rfind("/proc/", 0) == 0 || next.rfind("/dev/fd/", 0) == 0) throughOpenFile = true;
    target = next.front() == '/' ? next : Beside(target, next).string();
  }
}

// A new file of an unpredictable name beside target; 0, or the error number.
int CreateBeside(const std::string& target, mode_t mode, int& fd, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = Beside(target, UnpredictableName()).string();
    // O_EXCL also refuses a link planted under the name, dangling or not.
    fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return 0;
    if (errno != EEXIST) {
      const int error = errno;
      temp.clear();
      return error;
    }
  }
  temp.clear();
  return EEXIST;
}

// Copies the new file over the target's contents, which keeps the target's other hard
// links; 0, or the error number.
int CopyInto(const std::string& from, const std::string& target, std::uint64_t size) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  std::vector<std::uint8_t> chunk(65536);
  int error = 0;
  for (;;) {
    if (in < 0 || out < 0) {
      error = errno;
      break;
    }
    const ssize_t n = ::read(in, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0 || ::ftruncate(out, static_cast<off_t>(size)) != 0 || ::fsync(out) != 0) error = errno;
      break;
    }
    if ((error = WriteAll(out, chunk.data(), static_cast<std::size_t>(n))) != 0) break;
  }
  if (out >= 0 && ::close(out) != 0 && error == 0) error = errno;
  if (in >= 0) ::close(in);
  return error;
}

}  // namespace

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

  std::string target = path.string();
  struct stat linkInfo {};
  bool targetExists = false;
  bool throughOpenFile = false;
  if (const int error = FollowLinks(target, linkInfo, targetExists, throughOpenFile)) return s.Fail(error);

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

  if (const int error = CreateBeside(target, exists ? 0600 : 0666, s.fd, s.temp)) return s.Fail(error);
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
    if ((error = CopyInto(s.temp, s.target, s.size)) != 0) {
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

}  // namespace platform
