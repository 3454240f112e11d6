// An output log that can refuse to be created or accept only so many bytes, as a full
// disk would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mc303/OutputLogFile.h"

class FailingLogFile final : public mc303::OutputLogFile {
 public:
  void Delete() override {
    ++deletes;
    bytes.clear();
  }
  [[nodiscard]] bool Create() override {
    ++creates;
    if (failCreates > 0) {
      --failCreates;
      return false;
    }
    bytes.clear();
    open = true;
    return true;
  }
  [[nodiscard]] bool IsOpen() const override { return open; }
  [[nodiscard]] std::size_t Write(const std::uint8_t* data, std::size_t count) override {
    if (!open) return 0;
    const std::size_t room = capacity > bytes.size() ? capacity - bytes.size() : 0;
    const std::size_t n = count < room ? count : room;
    bytes.insert(bytes.end(), data, data + n);
    return n;
  }
  void Close() override { open = false; }
  std::string Location() const override { return "/prog/OUTFILE.SYX"; }

  std::vector<std::uint8_t> bytes;
  std::size_t capacity = static_cast<std::size_t>(-1);
  int failCreates = 0;  // creations still to refuse
  int creates = 0, deletes = 0;
  bool open = false;
};
