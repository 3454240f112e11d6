// Opening a file named in the Files box, as the reload and the transmit engine both
// open them: a listed name whose file is not there reads as an empty file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace filelist {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a listed file for reading as raw bytes. A name that is not there is created
// empty, as the window always has, so that it reads as an empty file; a folder, a
// dangling link or a file that is there but cannot be read gives nullptr. The command
// line never comes here: it hands the list and the engine the bytes it has read
// (SetOpener), and never creates a file it was asked to read.
FilePtr OpenListedFile(const std::filesystem::path& path);

}  // namespace filelist
