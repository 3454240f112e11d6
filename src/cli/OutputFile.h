// Where a subcommand writes the file it makes: standard output for "-", else a file
// written safely (platform::SafeFile). Every problem is said through the console,
// naming the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/Console.h"
#include "platform/Platform.h"

namespace cli {

// Whether writing `output` would replace the file `input` names ("-": the file standard
// input reads): the same file (device and inode) where both are there, else the same
// path once links and "." are resolved. Also asked of two outputs of one run.
bool SameFile(const std::string& input, const std::string& output);

class OutputFile {
 public:
  explicit OutputFile(Console& console) : console_(console) {}
  // An OUT no file can be: an empty name (option names it in the message), or standard
  // output while the JSON document goes there. True after saying so.
  static bool Refuses(const std::string& name, std::string_view option, Console& console);
  // False, after saying why, when the file cannot be written.
  [[nodiscard]] bool Open(const std::string& name);
  [[nodiscard]] bool Write(const std::uint8_t* data, std::size_t size);
  // The file takes its place (standard output is flushed; a write error there is said
  // at the end of the run).
  [[nodiscard]] bool Commit();
  bool ToStandardOutput() const { return name_ == kStandardStream; }
  std::uint64_t Size() const { return size_; }

 private:
  bool Failed(const std::string& reason);
  Console& console_;
  std::string name_;
  platform::SafeFile file_;
  std::uint64_t size_ = 0;
  bool failed_ = false;
};

}  // namespace cli
