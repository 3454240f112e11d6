// Where the output log OUTFILE.SYX goes. The window program writes it in the program's
// directory (DiskLogFile); the command-line front end keeps its own (MemoryLogFile) so
// that it never touches the window program's file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace mc303 {

inline constexpr const char* kOutfileName = "OUTFILE.SYX";

class OutputLogFile {
 public:
  virtual ~OutputLogFile() = default;
  // Removes the file; a missing file is not an error.
  virtual void Delete() = 0;
  // Creates the file anew, empty, and keeps it open for writing.
  [[nodiscard]] virtual bool Create() = 0;
  [[nodiscard]] virtual bool IsOpen() const = 0;
  // Appends the bytes in order; returns how many reached the file.
  [[nodiscard]] virtual std::size_t Write(const std::uint8_t* bytes, std::size_t count) = 0;
  virtual void Close() = 0;
  // Named in messages: the directory, the platform's separator and OUTFILE.SYX.
  virtual std::string Location() const = 0;
};

class DiskLogFile final : public OutputLogFile {
 public:
  explicit DiskLogFile(std::filesystem::path directory);
  ~DiskLogFile() override;
  DiskLogFile(const DiskLogFile&) = delete;
  DiskLogFile& operator=(const DiskLogFile&) = delete;

  void Delete() override;
  [[nodiscard]] bool Create() override;
  [[nodiscard]] bool IsOpen() const override { return file_ != nullptr; }
  [[nodiscard]] std::size_t Write(const std::uint8_t* bytes, std::size_t count) override;
  void Close() override;
  std::string Location() const override;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path directory_;
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
};

class MemoryLogFile final : public OutputLogFile {
 public:
  void Delete() override { bytes_.clear(); }
  [[nodiscard]] bool Create() override {
    bytes_.clear();
    open_ = true;
    return true;
  }
  [[nodiscard]] bool IsOpen() const override { return open_; }
  [[nodiscard]] std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
    if (!open_) return 0;
    bytes_.insert(bytes_.end(), bytes, bytes + count);
    return count;
  }
  void Close() override { open_ = false; }
  std::string Location() const override { return std::string("(memory)") + kOutfileName; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  bool open_ = false;
};

}  // namespace mc303
