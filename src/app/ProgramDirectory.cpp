#include "app/ProgramDirectory.h"

#include <cstdio>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace app {
namespace {

constexpr const char* kHelpFileName = "README.TXT";

}  // namespace

bool DirectoryWritable(const std::filesystem::path& directory) {
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) return false;
#ifdef _WIN32
  const auto probe = directory / ".vezorizer-write-test";
  std::FILE* f = _wfopen(probe.c_str(), L"wb");
  if (f == nullptr) return false;
  std::fclose(f);
#else
  // A name of this process's own, created exclusively, so no one else's file is touched.
  const auto probe = directory / (".vezorizer-write-test-" + std::to_string(::getpid()));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
#endif
  std::filesystem::remove(probe, ec);
  return true;
}

bool InstalledCopy(const std::filesystem::path& executableDirectory,
                   const std::vector<std::filesystem::path>& helpSources) {
  std::error_code ec;
  if (std::filesystem::exists(executableDirectory / kHelpFileName, ec)) return false;
  for (const auto& source : helpSources) {
    if (std::filesystem::equivalent(source, executableDirectory, ec)) continue;
    if (std::filesystem::is_regular_file(source / kHelpFileName, ec)) return true;
  }
  return false;
}

std::filesystem::path ChooseProgramDirectory(const std::filesystem::path& executableDirectory,
                                             const std::filesystem::path& userDataDirectory,
                                             const std::vector<std::filesystem::path>& helpSources) {
  if (userDataDirectory.empty()) return executableDirectory;
  if (DirectoryWritable(executableDirectory) && !InstalledCopy(executableDirectory, helpSources)) {
    return executableDirectory;
  }
  std::error_code ec;
  std::filesystem::create_directories(userDataDirectory, ec);
  const auto help = userDataDirectory / kHelpFileName;
  if (!std::filesystem::exists(help, ec)) {
    for (const auto& source : helpSources) {
      if (std::filesystem::is_regular_file(source / kHelpFileName, ec)) {
        std::filesystem::copy_file(source / kHelpFileName, help, ec);
        break;
      }
    }
  }
  return userDataDirectory;
}

}  // namespace app
