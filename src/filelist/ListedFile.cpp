#include "filelist/ListedFile.h"

#include <string>
#include <system_error>

namespace filelist {
namespace {

FilePtr OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
  return FilePtr(_wfopen(path.c_str(), wmode.c_str()));
#else
  return FilePtr(std::fopen(path.c_str(), mode));
#endif
}

}  // namespace

FilePtr OpenListedFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return nullptr;
  if (FilePtr f = OpenFile(path, "rb")) return f;
  // Only a name that is plainly not there is created; a dangling link is not followed.
  if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found) return nullptr;
  // Appending creates the file without emptying one that appeared meanwhile.
  if (!OpenFile(path, "ab")) return nullptr;
  return OpenFile(path, "rb");
}

}  // namespace filelist
