// AppendTraffic: how every shown MIDI byte enters the Traffic box, from the receive loop
// and the transmit engine alike. The box keeps the most recent bytes: when an append
// would pass its maximum length, only the last half of the old text is kept.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "roles/TextBox.h"

namespace roles {

// Half the maximum, rounded to the nearest whole number with halves to the even one
// (the rounding the box's first implementation used): 174 gives 87, 175 gives 88.
inline int TrafficKeepLength(int maxLength) {
  const int half = maxLength / 2;
  if (maxLength % 2 == 0) return half;
  return half % 2 == 0 ? half : half + 1;
}

inline void AppendTraffic(TextBox& trafficBox, std::string_view text) {
  const std::string& t = trafficBox.Text();
  const int m = trafficBox.MaxLength();
  if (static_cast<std::size_t>(trafficBox.Length()) + text.size() > static_cast<std::size_t>(m)) {
    const std::size_t keep = std::min(t.size(), static_cast<std::size_t>(TrafficKeepLength(m)));
    std::string next = t.substr(t.size() - keep);
    next.append(text);
    trafficBox.SetText(std::move(next));
  } else {
    trafficBox.Append(text);
  }
}

}  // namespace roles
