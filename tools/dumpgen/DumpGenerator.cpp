#include "DumpGenerator.h"

#include <algorithm>
#include <random>

namespace dumpgen {

std::vector<std::uint8_t> DataSetMessage(int deviceId, const std::uint8_t address[4],
                                         const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> m = {0xF0, 0x41, static_cast<std::uint8_t>(deviceId), 0x00, 0x03, 0x12};
  unsigned sum = 0;
  for (int i = 0; i < 4; ++i) {
    m.push_back(address[i]);
    sum += address[i];
  }
  for (std::uint8_t b : data) {
    m.push_back(b);
    sum += b;
  }
  m.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
  m.push_back(0xF7);
  return m;
}

std::vector<std::uint8_t> GenerateDump(const DumpOptions& o) {
  // A fixed engine and hand-rolled ranges: the output must be the same on every
  // platform and standard library for the same seed.
  std::mt19937 rng(o.seed);
  auto below = [&rng](std::uint32_t n) { return n == 0 ? 0u : static_cast<std::uint32_t>(rng() % n); };

  std::vector<std::uint8_t> out;
  std::size_t sinceSensing = 0;
  auto emit = [&](const std::vector<std::uint8_t>& message) {
    out.insert(out.end(), message.begin(), message.end());
    sinceSensing += message.size();
    if (o.activeSensingEveryBytes > 0 && sinceSensing >= static_cast<std::size_t>(o.activeSensingEveryBytes)) {
      out.push_back(0xFE);
      sinceSensing = 0;
    }
  };

  for (int slot = o.firstSlot; slot < o.firstSlot + o.slotCount && slot < 50; ++slot) {
    const int span = std::max(0, o.maxPatternBytes - o.minPatternBytes);
    const int patternBytes = o.minPatternBytes + static_cast<int>(below(static_cast<std::uint32_t>(span) + 1));
    // Pattern data: 7-bit offsets in address bytes 2 and 3, 128 bytes per message.
    int offset = 0;
    while (offset < patternBytes || offset == 0) {
      const int n = std::min(128, patternBytes - offset);
      std::vector<std::uint8_t> data(static_cast<std::size_t>(std::max(n, 0)));
      for (auto& b : data) b = static_cast<std::uint8_t>(below(128));
      const std::uint8_t address[4] = {static_cast<std::uint8_t>(0x40 + slot), 0x00,
                                       static_cast<std::uint8_t>((offset >> 7) & 0x7F),
                                       static_cast<std::uint8_t>(offset & 0x7F)};
      emit(DataSetMessage(o.deviceId, address, data));
      offset += 128;
      if (n <= 0) break;
    }
    std::vector<std::uint8_t> settings(static_cast<std::size_t>(o.settingsBytes));
    for (auto& b : settings) b = static_cast<std::uint8_t>(below(128));
    const std::uint8_t address[4] = {0x14, static_cast<std::uint8_t>(slot), 0x00, 0x00};
    emit(DataSetMessage(o.deviceId, address, settings));
  }
  return out;
}

}  // namespace dumpgen
