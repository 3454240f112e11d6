// Opening a file named in the Files box, as the reload and the transmit engine both
// open them: for reading only, so that reading a list never creates or changes a file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace filelist {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a listed file for reading as raw bytes. A name with no file behind it (gone
// since it was listed), a folder, or a file that cannot be read gives nullptr, which
// its callers report as a file that cannot be opened. The command line hands the list
// and the engine the bytes it has read instead (SetOpener).
FilePtr OpenListedFile(const std::filesystem::path& path);

}  // namespace filelist
