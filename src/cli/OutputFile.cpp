#include "cli/OutputFile.h"

#include <filesystem>
#include <system_error>

namespace cli {

namespace {

// Where a name leads: its links followed, dangling ones too (a file written through one
// is made where it points), and the folders on the way resolved.
std::filesystem::path Resolved(std::filesystem::path path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (int depth = 0; depth < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++depth) {
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return fs::weakly_canonical(path, ec);
}

}  // namespace

bool SameFile(const std::string& input, const std::string& output) {
  if (output == kStandardStream) return false;  // standard output is never replaced
  if (input == kStandardStream) return platform::IsStandardInput(output);
  std::error_code ec;
  return std::filesystem::equivalent(input, output, ec) || Resolved(input) == Resolved(output);
}

bool OutputFile::Failed(const std::string& reason) {
  if (!failed_) console_.Error(OutputName(name_), reason);
  failed_ = true;
  file_.Discard();
  return false;
}

bool OutputFile::Refuses(const std::string& name, std::string_view option, Console& console) {
  if (name.empty()) {
    console.Error(option, "the name is empty");
    return true;
  }
  if (name == kStandardStream && console.json) {
    console.Error(OutputName(name), "cannot hold both the file and the JSON document");
    return true;
  }
  return false;
}

bool OutputFile::Open(const std::string& name) {
  // A name for standard output itself (/dev/stdout, or where the shell sent it) is
  // standard output: written through it, it keeps its place among what is printed.
  name_ = platform::IsStandardOutput(name) ? std::string(kStandardStream) : name;
  size_ = 0;
  failed_ = false;
  if (ToStandardOutput()) return true;
  if (auto error = file_.Open(name)) return Failed(*error);
  return true;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size) {
  if (failed_) return false;
  size_ += size;
  if (ToStandardOutput()) {
    console_.out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return true;
  }
  if (auto error = file_.Write(data, size)) return Failed(*error);
  return true;
}

bool OutputFile::Commit() {
  if (failed_) return false;
  if (ToStandardOutput()) {
    console_.out.flush();
    return true;
  }
  if (auto error = file_.Commit()) return Failed(*error);
  return true;
}

}  // namespace cli
