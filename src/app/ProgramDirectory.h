// The program's directory: where SETTINGS.DAT, README.TXT and OUTFILE.SYX live. It is
// the executable's own directory, as users of the program expect, unless the program
// may not write there or it is an installed copy; then it is the user's application
// data directory, which gets a copy of README.TXT so that Help still has its text.
#pragma once

#include <QString>
#include <filesystem>
#include <vector>

namespace app {

// A path as Qt gives it, in the system's own encoding.
std::filesystem::path PathFromQt(const QString& path);

// The per-user application data directory (Qt's AppDataLocation). Qt takes a missing
// HOME for the root of the file system, so HOME is first filled in from the password
// database, as other programs find the user's home; with no home at all there is no
// such directory (empty).
std::filesystem::path UserDataDirectory();

// Whether a file can be created in the directory (tried, then removed).
bool DirectoryWritable(const std::filesystem::path& directory);

// An installed copy: no README.TXT beside the executable, but one in another of the
// helpSources (share/vezorizer, where the installation puts it). Its directory is
// /usr/bin or the like, no place for SETTINGS.DAT and OUTFILE.SYX even when the user
// (root) may write there, and Help would find no text in it.
bool InstalledCopy(const std::filesystem::path& executableDirectory,
                   const std::vector<std::filesystem::path>& helpSources);

// executableDirectory when writable and not an installed copy; otherwise
// userDataDirectory, created if missing, with README.TXT copied in from the first of
// helpSources that holds a readable one when it has none of its own (or an empty one,
// which only a failed copy leaves). A copy that fails leaves nothing behind.
std::filesystem::path ChooseProgramDirectory(const std::filesystem::path& executableDirectory,
                                             const std::filesystem::path& userDataDirectory,
                                             const std::vector<std::filesystem::path>& helpSources);

}  // namespace app
