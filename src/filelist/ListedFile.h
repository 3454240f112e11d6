// Opening a file named in the Files box, as the reload and the transmit engine both
// open them: a listed name whose file is not there reads as an empty file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace filelist {

// What a listed path that names no file means. The window creates it, empty, as it
// always has; the command-line front end must never create a file it was asked to read.
enum class MissingFile { CreateEmpty, Fail };

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a listed file for reading as raw bytes. A name that is not there is created
// empty when asked, so that it reads as an empty file; a folder, a dangling link or a
// file that is there but cannot be read gives nullptr.
FilePtr OpenListedFile(const std::filesystem::path& path, MissingFile missing);

}  // namespace filelist
