#include "cli/OutputFile.h"

namespace cli {

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
