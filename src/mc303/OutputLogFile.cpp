#include "mc303/OutputLogFile.h"

#include <system_error>

#include "platform/Files.h"

namespace mc303 {

DiskLogFile::DiskLogFile(std::filesystem::path directory)
    : directory_(std::move(directory)), path_(directory_ / kOutfileName) {}

DiskLogFile::~DiskLogFile() { Close(); }

void DiskLogFile::Delete() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

bool DiskLogFile::Create() {
  Close();
  file_ = platform::OpenFile(path_, "wb");
  if (file_ == nullptr) return false;
  // The caller batches bytes itself; with the stream's own buffer off, a short count
  // from fwrite is the file's real state (a full disk shows at once).
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

std::size_t DiskLogFile::Write(const std::uint8_t* bytes, std::size_t count) {
  if (file_ == nullptr || count == 0) return 0;
  return std::fwrite(bytes, 1, count, file_);
}

void DiskLogFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

std::string DiskLogFile::Location() const {
  std::string dir = directory_.string();
  return dir + static_cast<char>(std::filesystem::path::preferred_separator) + kOutfileName;
}

}  // namespace mc303
