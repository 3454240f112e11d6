// How vezorizer-cli speaks: results to standard output, messages for a person to
// standard error in one form ("vezorizer-cli: FILE: reason"), notes and warnings held
// back when quiet, and in --json mode the first error kept for the JSON document.
#pragma once

#include <cstdint>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A FILE named "-" is standard input where a file is read, standard output where one
// is written.
inline constexpr const char* kStandardStream = "-";

class Console {
 public:
  Console(std::ostream& output = std::cout, std::ostream& errors = std::cerr) : out(output), err(errors) {}

  std::ostream& out;
  std::ostream& err;
  bool quiet = false;
  bool json = false;

  // "vezorizer-cli: FILE: reason" (a FILE of "-" is named "standard input" or "standard
  // output"); the first one is kept as the JSON document's error.
  void Error(std::string_view file, std::string_view reason);
  // "vezorizer-cli: reason", for what concerns no file.
  void Error(std::string_view reason);
  // Held back when quiet.
  void Warning(std::string_view file, std::string_view text);
  void Note(std::string_view text);

  // An error already said in other words (the window's message box text, shown as it
  // came), kept for the JSON document only.
  void RecordError(std::string text);
  const std::optional<std::string>& FirstError() const { return firstError_; }

 private:
  std::optional<std::string> firstError_;
};

// How a FILE given as "-" is named in messages.
std::string InputName(const std::string& name);
std::string OutputName(const std::string& name);

// Standard output with a buffer of its own that keeps the first write error, so that a
// full disk or a closed pipe behind it is noticed (std::cout does not say why it fails).
class StandardOutputBuffer final : public std::streambuf {
 public:
  StandardOutputBuffer();
  ~StandardOutputBuffer() override;
  // 0, or the error number of the first write that failed.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool Drain();
  std::vector<char> buffer_;
  int error_ = 0;
};

}  // namespace cli
