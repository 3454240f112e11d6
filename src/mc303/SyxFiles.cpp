#include "mc303/SyxFiles.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "platform/Files.h"
#include "platform/SafeFile.h"

namespace mc303 {
namespace {

std::string LastFour(const std::string& name) { return name.size() >= 4 ? name.substr(name.size() - 4) : name; }

std::string ErrnoText(int error) { return std::generic_category().message(error); }

}  // namespace

bool HasSyxExtension(const std::string& name) {
  const std::string last = LastFour(name);
  return name.size() >= 4 && (last == ".SYX" || last == ".syx");
}

std::string OverallFileName(const std::string& chosen) {
  return HasSyxExtension(chosen) ? chosen : chosen + ".SYX";
}

std::string PieceBaseName(const std::string& chosen) {
  if (chosen.size() > 4 && HasSyxExtension(chosen)) return chosen.substr(0, chosen.size() - 4);
  return chosen;
}

std::string PieceFileName(const std::string& base, int slotIndex, PieceKind kind) {
  return base + "_" + UserName(slotIndex + 1) + (kind == PieceKind::Settings ? "S.SYX" : "P.SYX");
}

std::optional<std::string> ReplaceFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  return platform::WriteFileSafely(path, bytes.data(), bytes.size());
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::string("is a directory");
  std::FILE* f = platform::OpenFile(path, "rb");
  if (f == nullptr) return ErrnoText(errno);
  bytes.clear();
  std::uint8_t chunk[65536];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) return ErrnoText(error);
  return std::nullopt;
}

}  // namespace mc303
