// Makes MC-303 bulk dumps of our own for the examples, the tests, the benchmarks and
// the end-to-end peers: per user slot the pattern data at address 0x40 + slot in
// consecutive data-set messages of up to 128 data bytes, then the slot's settings at
// 0x14 slot, every message with a correct Roland checksum, and active sensing (0xFE)
// between messages about as often as the device sends it at wire speed.
#pragma once

#include <cstdint>
#include <vector>

namespace dumpgen {

struct DumpOptions {
  std::uint32_t seed = 303;
  int firstSlot = 0;           // slot index 0-49
  int slotCount = 50;
  int minPatternBytes = 64;    // data bytes of one slot's pattern part
  int maxPatternBytes = 1200;
  int settingsBytes = 47;      // data bytes of one slot's settings part
  int deviceId = 0x10;
  // Active sensing comes every 300 ms, about this many bytes apart at 3125 bytes/s;
  // 0 means none.
  int activeSensingEveryBytes = 940;
};

// One data-set message: F0 41 dev 00 03 12 a0 a1 a2 a3 data... checksum F7.
std::vector<std::uint8_t> DataSetMessage(int deviceId, const std::uint8_t address[4],
                                         const std::vector<std::uint8_t>& data);

std::vector<std::uint8_t> GenerateDump(const DumpOptions& options);

}  // namespace dumpgen
