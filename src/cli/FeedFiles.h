// Reading the FILEs a subcommand is given, each exactly once, and feeding them through
// the parser the way a reload of the file list does, with an account of every completed
// message and where its 0xF0 stood.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "cli/Console.h"
#include "filelist/ListedFile.h"
#include "mc303/SysexParser.h"

namespace cli {

// A FILE of the command line: read once, front to back, a piece at a time; a Standard
// MIDI File stands for the SysEx bytes it holds, so every subcommand takes a .mid
// wherever it takes a .syx (convert reads it Raw). "-" is standard input.
using InputReader = filelist::ListedFile;
InputReader OpenInput(const std::string& name, InputReader::Midi midi = InputReader::Midi::Sysex);

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
  // A name's bytes as a listed file; empty for a name not given.
  filelist::ListedFile Open(const std::string& name) const;

 private:
  std::map<std::string, const std::vector<std::uint8_t>*> byName_;
};

struct FedMessage {
  mc303::MessageReport report;
  std::size_t fileIndex = 0;
  std::uint64_t offset = 0;
};

// A whole FILE through OpenInput (a Standard MIDI File as midi says); the reason on
// failure.
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

// The inputs as the file list's reload reads them (filelist::ReloadFiles), with reports
// on and no refusal ending it. Each completed message goes to sink as it completes; the
// pieces' bytes go to the tally. False, after saying why through the console, when an
// input fails part-way.
bool FeedAsReload(CliSession& session, std::vector<InputReader>& inputs,
                  const std::function<void(const FedMessage&)>& sink, PieceTally& tally, Console& console);

const char* OutcomeName(mc303::MessageOutcome outcome);  // "new", "no-piece", ...
const char* KindName(mc303::PieceKind kind);             // "pattern", "settings"
using mc303::UserName;                                   // "U07"

}  // namespace cli
