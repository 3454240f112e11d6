#include "cli/Console.h"

#include "platform/Platform.h"

namespace cli {

void Console::RecordError(std::string text) {
  if (!firstError_) firstError_ = std::move(text);
}

void Console::Error(std::string_view file, std::string_view reason) {
  std::string text(file);
  text += ": ";
  text += reason;
  err << "vezorizer-cli: " << text << std::endl;
  RecordError(std::move(text));
}

void Console::Error(std::string_view reason) {
  err << "vezorizer-cli: " << reason << std::endl;
  RecordError(std::string(reason));
}

void Console::Warning(std::string_view file, std::string_view text) {
  if (!quiet) err << "vezorizer-cli: " << file << ": " << text << '\n';
}

void Console::Note(std::string_view text) {
  if (!quiet) err << text << '\n';
}

std::string InputName(const std::string& name) { return name == kStandardStream ? "standard input" : name; }
std::string OutputName(const std::string& name) { return name == kStandardStream ? "standard output" : name; }

StandardOutputBuffer::StandardOutputBuffer() : buffer_(64 * 1024) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

StandardOutputBuffer::~StandardOutputBuffer() { (void)Drain(); }

bool StandardOutputBuffer::Drain() {
  const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  // After a failure the rest is dropped: the run goes on to say so and end.
  if (n > 0 && error_ == 0) error_ = platform::WriteStandardOutput(buffer_.data(), n);
  return error_ == 0;
}

StandardOutputBuffer::int_type StandardOutputBuffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize StandardOutputBuffer::xsputn(const char* s, std::streamsize n) {
  const auto room = epptr() - pptr();
  if (n <= room) {
    std::copy(s, s + n, pptr());
    pbump(static_cast<int>(n));
    return n;
  }
  if (!Drain()) return 0;
  if (static_cast<std::size_t>(n) >= buffer_.size()) {
    if (error_ == 0) error_ = platform::WriteStandardOutput(s, static_cast<std::size_t>(n));
    return error_ == 0 ? n : 0;
  }
  std::copy(s, s + n, pptr());
  pbump(static_cast<int>(n));
  return n;
}

int StandardOutputBuffer::sync() { return Drain() ? 0 : -1; }

}  // namespace cli
