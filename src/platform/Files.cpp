#include "platform/Files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "System.h"

namespace platform {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wide(mode, mode + std::strlen(mode));
  return _wfopen(path.c_str(), wide.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

// EINTR surfaces only where a stop signal ended a wait (every other one is retried).
std::string ErrorText(int error) {
  return error == EINTR ? std::string("a signal ended the wait for it") : std::generic_category().message(error);
}
bool IsBrokenPipe(int error) { return error == EPIPE; }

std::filesystem::path ProgramDirectory() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

#if VZ_POSIX

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

#else  // the portable path: the C and C++ libraries only

std::filesystem::path HomeDirectory() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? std::filesystem::path(home) : std::filesystem::path();
}

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

}  // namespace platform
