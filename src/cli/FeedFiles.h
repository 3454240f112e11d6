// Reading the FILEs a subcommand is given, each exactly once, and feeding them through
// the parser the way a reload of the file list does, with an account of every completed
// message and where its 0xF0 stood.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "cli/Console.h"
#include "filelist/ListedFile.h"
#include "mc303/SysexParser.h"

namespace cli {

// More than any dump of the device, by far; a larger input (or an endless one such as
// /dev/zero) is refused before it can take the machine's memory or time.
inline constexpr std::uint64_t kMaxInputBytes = std::uint64_t{256} << 20;

// The one way every subcommand reads a FILE: once, front to back, a piece at a time.
// "-" is standard input; a folder, a name that is not there (nothing is ever created)
// and anything past kMaxInputBytes are refused. A Standard MIDI File (one that begins
// with "MThd") stands for the SysEx bytes it holds, in time order over its tracks: it is
// read whole and decoded by Open, and Next gives those bytes as a .syx would give its
// own, so every subcommand takes a .mid wherever it takes a .syx.
class InputReader {
 public:
  enum class Midi {
    Sysex,  // a Standard MIDI File gives its SysEx
    Raw,    // every file gives its own bytes (convert)
  };
  explicit InputReader(std::string name, Midi midi = Midi::Sysex);
  ~InputReader();
  InputReader(InputReader&&) noexcept;
  InputReader& operator=(InputReader&&) noexcept;

  const std::string& Name() const { return name_; }  // as given on the command line
  // Why the FILE cannot be read (or, for a MIDI file, decoded); nothing when it can.
  [[nodiscard]] std::optional<std::string> Open();
  // The next bytes; empty at the end, and after a failure (then Error() says why).
  std::span<const std::uint8_t> Next();
  const std::optional<std::string>& Error() const { return error_; }
  // The size of a regular file (of a MIDI file's SysEx), known before it is read.
  std::optional<std::uint64_t> KnownSize() const { return knownSize_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const;
  };
  std::span<const std::uint8_t> ReadChunk(std::size_t most);
  std::optional<std::string> Decode();

  std::string name_;
  Midi midi_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::vector<std::uint8_t> chunk_;
  std::size_t peeked_ = 0;           // bytes of chunk_ read by Open, for the first Next
  std::vector<std::uint8_t> sysex_;  // a MIDI file's SysEx, given whole by the first Next
  bool decoded_ = false;
  std::uint64_t read_ = 0;
  std::optional<std::uint64_t> knownSize_;
  std::optional<std::string> error_;
};

struct InputFile {
  std::string name;                 // as given on the command line
  std::vector<std::uint8_t> bytes;  // a MIDI file's SysEx, not the file's own bytes
};

// The bytes of the FILEs read, by the name given, for the file list and the transmit
// engine: they read these (SetOpener) instead of opening the files again.
class InputsByName {
 public:
  explicit InputsByName(const std::vector<InputFile>& files);
  // nullptr for a name not given.
  const std::vector<std::uint8_t>* Bytes(const std::string& name) const;
  // A stream over a name's bytes; empty for a name not given.
  filelist::FilePtr Open(const std::string& name) const;

 private:
  std::map<std::string, const std::vector<std::uint8_t>*> byName_;
};

struct FedMessage {
  mc303::MessageReport report;
  std::size_t fileIndex = 0;
  std::uint64_t offset = 0;
};

// A whole FILE through an InputReader (a Standard MIDI File as midi says); the reason
// on failure.
std::optional<std::string> ReadInputFile(const std::string& name, std::vector<std::uint8_t>& bytes,
                                         InputReader::Midi midi = InputReader::Midi::Sysex);

// Opens every named FILE, in order, before anything is fed (a MIDI file is decoded
// then); standard input may be named once only. On the first that cannot be read, says
// so through the console and returns false.
bool OpenInputFiles(const std::vector<std::string>& names, std::vector<InputReader>& inputs, Console& console);
// The same, each FILE read whole, for commands that go over the bytes more than once.
bool LoadInputFiles(const std::vector<std::string>& names, std::vector<InputFile>& files, Console& console);

// How many bytes each slot's pattern and settings hold and, with keepBytes, the bytes
// themselves in blocks filled in turn: a slot's piece is never one vector grown (and
// copied over again and again) as its messages come. A piece too long for a piece file
// keeps only its size.
struct PieceTally {
  bool keepBytes = false;
  std::array<std::uint64_t, mc303::kUserSlots> patternBytes{};
  std::array<std::uint64_t, mc303::kUserSlots> settingsBytes{};
  std::array<std::vector<mc303::ByteString>, mc303::kUserSlots> patternParts;
  std::array<std::vector<mc303::ByteString>, mc303::kUserSlots> settingsParts;
  // Called once a message has completed: its piece's bytes are taken out of the store,
  // which keeps what tells a duplicate (the slot, its kind, whether it is there).
  void Take(mc303::PieceStore& store, const mc303::MessageReport& report);
  // Every piece the store holds, taken whole.
  void TakeAll(mc303::PieceStore& store);
};

// One ResetPieceStore, RecordingActive on, then every byte of every input with LastKind
// set to None at the start of each; reports on; the log closed at the end. Each
// completed message goes to sink as it completes; the pieces' bytes go to the tally.
// False, after saying why through the console, when an input fails part-way.
bool FeedAsReload(CliSession& session, std::vector<InputReader>& inputs,
                  const std::function<void(const FedMessage&)>& sink, PieceTally& tally, Console& console);

const char* OutcomeName(mc303::MessageOutcome outcome);  // "new", "no-piece", ...
const char* KindName(mc303::PieceKind kind);             // "pattern", "settings"
std::string UserName(int userNumber);                    // "U07"

}  // namespace cli
