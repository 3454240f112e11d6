#include "settings/Settings.h"

#include <fstream>
#include <limits>
#include <system_error>

#include "platform/Platform.h"

namespace settings {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Far more than the line the program writes; a longer first line is read this far.
constexpr std::size_t kMaxLineBytes = 64 * 1024;
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The first item, and in `next` where the text after it goes on: at the comma that
// ends it, at the line end, or past the end of the text.
std::optional<std::string> FirstItemAndNext(std::string_view fileText, std::size_t& next) {
  std::size_t i = 0;
  while (i < fileText.size() && IsBlank(fileText[i])) ++i;
  next = fileText.size();
  if (i >= fileText.size()) return std::nullopt;
  if (fileText[i] == '"') {
    const std::size_t close = fileText.find('"', i + 1);
    if (close == std::string_view::npos) return std::string(fileText.substr(i + 1));
    next = fileText.find_first_of(",\r\n", close + 1);
    if (next == std::string_view::npos) next = fileText.size();
    return std::string(fileText.substr(i + 1, close - i - 1));
  }
  std::size_t end = i;
  while (end < fileText.size() && fileText[end] != ',' && fileText[end] != '\r' && fileText[end] != '\n') ++end;
  next = end;
  std::size_t last = end;
  while (last > i && IsBlank(fileText[last - 1])) --last;
  return std::string(fileText.substr(i, last - i));
}

}  // namespace

std::optional<std::int32_t> NumericReading(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The integer part, exactly; anything past the 32-bit range is already a failure
  // (rounding a fraction can only move it one step).
  constexpr std::int64_t kLimit = std::int64_t{1} << 32;
  std::int64_t whole = 0;
  while (i < text.size() && IsDigit(text[i])) {
    whole = whole * 10 + (text[i] - '0');
    if (whole > kLimit) return std::nullopt;
    ++i;
  }
  // The fraction decides the rounding: above one half rounds up, below down, exactly
  // one half goes to the even neighbour.
  int firstFractionDigit = 0;
  bool moreAfterFirst = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (i < text.size() && IsDigit(text[i])) {
      firstFractionDigit = text[i] - '0';
      ++i;
      while (i < text.size() && IsDigit(text[i])) {
        if (text[i] != '0') moreAfterFirst = true;
        ++i;
      }
    }
  }
  const bool above = firstFractionDigit > 5 || (firstFractionDigit == 5 && moreAfterFirst);
  const bool tie = firstFractionDigit == 5 && !moreAfterFirst;
  if (above || (tie && whole % 2 == 1)) ++whole;
  const std::int64_t value = negative ? -whole : whole;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::optional<std::string> FirstItem(std::string_view fileText) {
  std::size_t next = 0;
  return FirstItemAndNext(fileText, next);
}

std::optional<std::string> SecondItem(std::string_view fileText) {
  std::size_t next = 0;
  if (!FirstItemAndNext(fileText, next) || next >= fileText.size() || fileText[next] != ',') return std::nullopt;
  const std::string_view rest = fileText.substr(next + 1);
  return FirstItem(rest);
}

std::optional<std::int32_t> PauseReading(std::string_view text) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  if (i == end || end - i > 4) return std::nullopt;
  std::int32_t value = 0;
  for (; i < end; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (value > kMaxPauseMs) return std::nullopt;
  return value;
}

Settings::Settings(std::filesystem::path programDirectory, roles::Dialogs& dialogs)
    : directory_(std::move(programDirectory)), dialogs_(dialogs) {}

bool Settings::FileExists() const {
  std::error_code ec;
  return std::filesystem::is_regular_file(FilePath(), ec);
}

bool Settings::LoadSettings() {
  SettingsLoaded = true;
  std::ifstream in(FilePath(), std::ios::binary);
  if (!in) return false;
  // Only the first line holds anything read, so only it is read (with its line end,
  // which makes an empty first line an empty item): a huge or endless file costs no
  // more than the setting itself. read() turns a failing read into badbit, where
  // reading through the buffer's iterators would throw.
  std::string text;
  char chunk[256];
  std::size_t lineEnd = std::string::npos;
  while (lineEnd == std::string::npos && text.size() < kMaxLineBytes && in.read(chunk, sizeof chunk).gcount() > 0) {
    const std::size_t before = text.size();
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
    lineEnd = text.find_first_of("\r\n", before);
  }
  if (in.bad()) return false;
  if (lineEnd != std::string::npos) text.resize(lineEnd + 1);
  if (auto item = FirstItem(text)) {
    if (auto value = NumericReading(*item)) TransmitBufferSize = *value;
  }
  if (auto item = SecondItem(text)) {
    if (auto pause = PauseReading(*item)) PauseMs = *pause;
  }
  return true;
}

void Settings::SaveSettings(roles::TextBox& sizeBox) {
  const auto value = NumericReading(sizeBox.Text());
  if (!value) {
    TransmitBufferSize = kDefaultTransmitBufferSize;
    sizeBox.SetText(std::to_string(kDefaultTransmitBufferSize));
    return;
  }
  TransmitBufferSize = *value;
  WriteFile();
}

void Settings::SavePause(roles::TextBox& tPause) {
  // An empty box is where a user who types a new pause passes through.
  const auto pause = tPause.Text().empty() ? std::optional<std::int32_t>(0) : PauseReading(tPause.Text());
  if (!pause) {
    PauseMs = kDefaultPauseMs;
    tPause.SetText(std::to_string(kDefaultPauseMs));
    return;
  }
  PauseMs = *pause;
  WriteFile();
}

void Settings::WriteFile() {
  // Written as every saved file is: a failed write never leaves the setting empty or
  // half written, and a link or a read-only file is not replaced.
  std::string line = std::to_string(TransmitBufferSize);
  if (PauseMs != kDefaultPauseMs) line += "," + std::to_string(PauseMs);
  line += "\r\n";
  platform::SafeFile file;
  if (file.Open(FilePath())) {
    dialogs_.MessageBox("Error opening " + Location() + " for writing!");
    return;
  }
  if (file.Write(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()) || file.Commit()) {
    dialogs_.MessageBox("Error writing " + Location() + "!");
  }
}

std::string Settings::BoxText() const {
  return TransmitBufferSize == 0 ? std::string() : std::to_string(TransmitBufferSize);
}

std::string Settings::Location() const {
  return directory_.string() + static_cast<char>(std::filesystem::path::preferred_separator) + kSettingsFileName;
}

}  // namespace settings
