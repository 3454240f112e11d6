// Fuzz target: the numeric reading of SETTINGS.DAT and the buffer size box, and the
// pause of its second item, on arbitrary text. Checked: nothing throws, and the reading equals a reference worked
// out with long double arithmetic and the C library's round-half-even.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/Settings.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The leading number, built in long double and rounded by nearbyintl in the default
// round-to-nearest-even mode. Only whether the fraction is below, at or above one half
// matters, so the digits past the sixth fold into one digit that keeps that answer;
// with at most ten integer digits the sum stays exact enough to tell the three apart.
std::optional<std::int32_t> Reference(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && Blank(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  const auto digits = [&] {
    std::string d;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') d += t[i++];
    return d;
  };
  std::string whole = digits();
  std::string fraction = i < t.size() && t[i] == '.' ? (++i, digits()) : "";
  whole.erase(0, std::min(whole.size(), whole.find_first_not_of('0')));
  if (whole.size() > 10) return std::nullopt;  // at least 10^10
  if (fraction.size() > 6) {
    fraction = fraction.substr(0, 6) + (fraction.find_first_not_of('0', 6) != std::string::npos ? "1" : "");
  }
  long double value = 0, scale = 1;
  for (char c : whole) value = value * 10 + (c - '0');
  for (char c : fraction) value += (c - '0') * (scale /= 10);
  const long double rounded = std::nearbyintl(negative ? -value : value);
  if (rounded < -2147483648.0L || rounded > 2147483647.0L) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::fegetround() == FE_TONEAREST, "rounding mode changed");
  try {
    FUZZ_CHECK(settings::NumericReading(text) == Reference(text), "the numeric reading differs from the reference");
    // The pause from a file's second item is 0 to 5000 or nothing.
    const auto item = settings::SecondItem(text);
    const auto pause = settings::PauseReading(item.value_or(""));
    FUZZ_CHECK(!pause || (*pause >= 0 && *pause <= 5000), "a pause out of range");
  } catch (...) {
    FUZZ_CHECK(false, "the numeric reading threw");
  }
  return 0;
}
