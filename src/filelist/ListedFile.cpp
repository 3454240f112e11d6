#include "filelist/ListedFile.h"

#include <system_error>

namespace filelist {

FilePtr OpenListedFile(const std::filesystem::path& path) {
  std::error_code ec;
  // A folder opens for reading on some systems and then fails at the first read.
  if (std::filesystem::is_directory(path, ec)) return nullptr;
#ifdef _WIN32
  return FilePtr(_wfopen(path.c_str(), L"rb"));
#else
  return FilePtr(std::fopen(path.c_str(), "rb"));
#endif
}

}  // namespace filelist
