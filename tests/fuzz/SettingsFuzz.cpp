// Fuzz target: reading SETTINGS.DAT and the transmit buffer size box from arbitrary text.
//
// The input is the file's whole content and, separately, the box's text. Checked:
// nothing throws; the numeric reading equals a reference worked out with long double
// arithmetic and the C library's round-half-even; the size read from the file is that
// reading of its first item, or stays 139 when there is no item or it is out of range;
// a value saved from the box reads back unchanged, and one out of range puts 139 back.
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "ScratchFolder.h"
#include "fakes/ScriptedDialogs.h"
#include "settings/Settings.h"
#include "ui/TextBox.h"

namespace fs = std::filesystem;

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

// The leading number, its value built in long double and rounded by nearbyintl in the
// default round-to-nearest-even mode. Only whether the fraction is below, at or above
// one half matters to the result, so the digits past the sixth fold into one digit
// that keeps that answer; with at most ten integer digits the sum stays exact enough
// to tell those three cases apart.
std::optional<std::int32_t> Reference(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && Blank(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::string whole;
  while (i < t.size() && Digit(t[i])) whole += t[i++];
  std::string fraction;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && Digit(t[i])) fraction += t[i++];
  }
  const std::size_t firstNonZero = whole.find_first_not_of('0');
  whole = firstNonZero == std::string::npos ? "" : whole.substr(firstNonZero);
  if (whole.size() > 10) return std::nullopt;  // at least 10^10
  if (fraction.size() > 6) {
    const bool more = fraction.find_first_not_of('0', 6) != std::string::npos;
    fraction = fraction.substr(0, 6) + (more ? "1" : "");
  }
  long double value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  long double scale = 1;
  for (char c : fraction) {
    scale /= 10;
    value += (c - '0') * scale;
  }
  if (negative) value = -value;
  const long double rounded = std::nearbyintl(value);
  if (rounded < -2147483648.0L || rounded > 2147483647.0L) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

// The size a file should give: the reading of its first item, the item being what
// follows leading blanks and an opening quote (a comma, quote or line end closes both
// an item and a number); 139 when the file holds nothing but blanks.
std::int32_t FromFile(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && Blank(text[i])) ++i;
  if (i == text.size()) return settings::kDefaultTransmitBufferSize;
  if (text[i] == '"') ++i;
  return Reference(text.substr(i)).value_or(settings::kDefaultTransmitBufferSize);
}

void WriteFile(const fs::path& path, std::string_view text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot write the settings file");
  FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), f) == text.size(), "cannot write the settings file");
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::fegetround() == FE_TONEAREST, "rounding mode changed");

  const ScratchFolder folder("vz-fuzz-settings");
  const fs::path& dir = folder.Path();
  try {
    FUZZ_CHECK(settings::NumericReading(text) == Reference(text), "the numeric reading differs from the reference");

    ScriptedDialogs dialogs;
    WriteFile(dir / settings::kSettingsFileName, text);
    settings::Settings fromFile(dir, dialogs);
    fromFile.LoadSettings();
    FUZZ_CHECK(fromFile.SettingsLoaded, "loading not recorded");
    FUZZ_CHECK(fromFile.TransmitBufferSize == FromFile(text), "the size read from the file differs");

    // The box: what it saves reads back as the same size.
    ui::TextBox tBufSiz(0);
    tBufSiz.SetText(std::string(text));
    settings::Settings saving(dir, dialogs);
    saving.SaveSettings(tBufSiz);
    const std::optional<std::int32_t> typed = Reference(text);
    if (!typed) {
      FUZZ_CHECK(saving.TransmitBufferSize == 139 && tBufSiz.Text() == "139", "139 not put back");
    } else {
      FUZZ_CHECK(saving.TransmitBufferSize == *typed, "the box's value not taken");
      settings::Settings reread(dir, dialogs);
      reread.LoadSettings();
      FUZZ_CHECK(reread.TransmitBufferSize == *typed, "a saved size reads back differently");
    }
    FUZZ_CHECK(dialogs.messages.empty(), "a message while the folder is writable");
  } catch (...) {
    FUZZ_CHECK(false, "settings reading threw");
  }
  return 0;
}
