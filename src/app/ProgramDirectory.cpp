#include "app/ProgramDirectory.h"

#include <system_error>

#include "platform/Platform.h"

namespace app {
namespace {

constexpr const char* kHelpFileName = "README.TXT";

}  // namespace

bool DirectoryWritable(const std::filesystem::path& directory) { return platform::CanCreateFileIn(directory); }

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
