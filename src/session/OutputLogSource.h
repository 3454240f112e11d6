// Where the overall file's bytes come from when Stop or Save copies the output log.
// The window program reads OUTFILE.SYX back from the program's directory, through the
// log file's own path; a log kept in memory serves tests and the command-line front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mc303/OutputLogFile.h"
#include "mc303/SyxFiles.h"

namespace session {

class OutputLogSource {
 public:
  virtual ~OutputLogSource() = default;
  // The whole log as it stands once closed; the reason on failure.
  [[nodiscard]] virtual std::optional<std::string> ReadLog(std::vector<std::uint8_t>& bytes) = 0;
};

class DiskLogSource final : public OutputLogSource {
 public:
  explicit DiskLogSource(const mc303::DiskLogFile& log) : log_(log) {}
  [[nodiscard]] std::optional<std::string> ReadLog(std::vector<std::uint8_t>& bytes) override {
    return mc303::ReadWholeFile(log_.Path(), bytes);
  }

 private:
  const mc303::DiskLogFile& log_;
};

class MemoryLogSource final : public OutputLogSource {
 public:
  explicit MemoryLogSource(const mc303::MemoryLogFile& log) : log_(log) {}
  [[nodiscard]] std::optional<std::string> ReadLog(std::vector<std::uint8_t>& bytes) override {
    bytes = log_.Bytes();
    return std::nullopt;
  }

 private:
  const mc303::MemoryLogFile& log_;
};

}  // namespace session
