#include "app/ProgramDirectory.h"

#include <QStandardPaths>
#include <QtGlobal>
#include <fstream>
#include <system_error>

#include "platform/Platform.h"

namespace app {
namespace {

constexpr const char* kHelpFileName = "README.TXT";

// Written as every saved file is: a source that fails part-way (a read error) leaves no
// empty or half copy that would stand for the help text from then on.
bool CopyHelp(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::ifstream in(from, std::ios::binary);
  platform::SafeFile out;
  if (!in || out.Open(to)) return false;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk).gcount() > 0) {
    if (out.Write(reinterpret_cast<const std::uint8_t*>(chunk), static_cast<std::size_t>(in.gcount()))) return false;
  }
  return !in.bad() && !out.Commit();
}

}  // namespace

std::filesystem::path PathFromQt(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(path.toStdWString());
#else
  return std::filesystem::path(path.toLocal8Bit().toStdString());
#endif
}

std::filesystem::path UserDataDirectory() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  if (qEnvironmentVariableIsEmpty("HOME")) {
    const std::filesystem::path home = platform::HomeDirectory();
    if (home.empty()) {
      // Only XDG_DATA_HOME, when it names a folder of its own, still gives a place.
      const std::filesystem::path data = qEnvironmentVariable("XDG_DATA_HOME").toStdString();
      if (!data.is_absolute()) return {};
    } else {
      qputenv("HOME", QByteArray::fromStdString(home.string()));
    }
  }
#endif
  return PathFromQt(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

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
  if (!std::filesystem::exists(help, ec) || std::filesystem::is_empty(help, ec)) {
    for (const auto& source : helpSources) {
      if (std::filesystem::is_regular_file(source / kHelpFileName, ec) && CopyHelp(source / kHelpFileName, help)) break;
    }
  }
  return userDataDirectory;
}

}  // namespace app
