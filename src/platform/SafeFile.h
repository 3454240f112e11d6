// Writing a file so that what was there is never lost or hijacked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// A file written so that what was there is never lost or hijacked: the bytes go to a
// new file of an unpredictable name created beside the target (never through a link
// planted there), which takes the target's place only once it is complete, with the
// old file's permissions (and owner where allowed); a new file gets the usual mode less
// the umask. A symbolic link is written through to its target. A read-only file, a
// directory and an empty name are refused. A device, a FIFO or a name that reaches its
// file through an open file of a process (/proc/self/fd/N) is written directly, never
// replaced. A file with
// other hard links is written in place once its new contents are complete beside it,
// so every name still shows the same file. The new file is removed on every failure,
// on destruction without Commit, and when a signal ends the process (any that may be
// caught: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGALRM, SIGUSR1, ...).
class SafeFile {
 public:
  SafeFile();
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // Every call returns the reason on failure, and nothing when it succeeded.
  [[nodiscard]] std::optional<std::string> Open(const std::filesystem::path& path);
  [[nodiscard]] std::optional<std::string> Write(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] std::optional<std::string> Commit();
  // Drops what was written; the target stays as it was (a device has had it already).
  void Discard();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Open, one Write and Commit.
[[nodiscard]] std::optional<std::string> WriteFileSafely(const std::filesystem::path& path, const std::uint8_t* data,
                                                         std::size_t size);

}  // namespace platform
