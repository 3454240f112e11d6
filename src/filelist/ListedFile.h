// A file named in the Files box or on the command line, as every reader of one sees it:
// opened by name for reading only (reading a list never creates or changes a file),
// read once front to back, and a Standard MIDI File (one that begins with "MThd") taken
// for the SysEx bytes it holds, in time order over its tracks, so that a .mid stands
// wherever a .syx does. The file list's reload, the Send and the command line read
// every file through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace filelist {

// More than any dump of the device, by far; a larger file (or an endless one such as
// /dev/zero) is refused before it can take the machine's memory or time.
inline constexpr std::uint64_t kMaxListedBytes = std::uint64_t{256} << 20;

class ListedFile {
 public:
  enum class Midi {
    Sysex,  // a Standard MIDI File gives its SysEx
    Raw,    // every file gives its own bytes
  };
  // Why the file gives no (more) bytes: it could not be opened (gone, a folder), a read
  // failed or it is too large, or it is a MIDI file that cannot be decoded.
  enum class Failure { None, Open, Read, Damaged };

  // Opens the file; a MIDI file is read whole and decoded here. standardInput: read
  // standard input under the name instead.
  explicit ListedFile(std::string name, Midi midi = Midi::Sysex, bool standardInput = false);
  // Bytes read before, which must outlive the file: given as the file's own.
  ListedFile(std::string name, std::span<const std::uint8_t> bytes);
  ~ListedFile();
  ListedFile(ListedFile&&) noexcept;
  ListedFile& operator=(ListedFile&&) noexcept;

  const std::string& Name() const { return name_; }
  // The next bytes; empty at the end and after a failure.
  std::span<const std::uint8_t> Next();
  Failure Failed() const { return failure_; }
  // Why, in words that follow the file's name; nothing while it has not failed.
  const std::optional<std::string>& Error() const { return error_; }
  // The size of a regular file (of a MIDI file's SysEx), known before it is read.
  std::optional<std::uint64_t> KnownSize() const { return knownSize_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const;  // standard input stays open
  };
  void OpenByName();
  void Fail(Failure failure, std::string why);
  std::span<const std::uint8_t> ReadChunk(std::size_t most);
  void Decode();

  std::string name_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::vector<std::uint8_t> chunk_;
  std::size_t peeked_ = 0;                // bytes of chunk_ read by the sniff, for the first Next
  std::vector<std::uint8_t> sysex_;       // a MIDI file's SysEx
  std::span<const std::uint8_t> whole_;   // bytes held in memory, given whole by the first Next
  std::uint64_t read_ = 0;
  std::optional<std::uint64_t> knownSize_;
  Failure failure_ = Failure::None;
  std::optional<std::string> error_;
};

}  // namespace filelist
