// Feeding files through the parser the way a reload of the file list does, keeping an
// account of every completed message and where its 0xF0 stood.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "mc303/SysexParser.h"

namespace cli {

struct InputFile {
  std::string name;  // as given on the command line
  std::vector<std::uint8_t> bytes;  // a MIDI file's SysEx, not the file's own bytes
};

struct FedMessage {
  mc303::MessageReport report;
  std::size_t fileIndex = 0;
  std::uint64_t offset = 0;
};

// Reads every named file, a Standard MIDI File as the SysEx bytes it holds; on the
// first that cannot be read, prints "PATH: reason" to stderr and returns false
// (nothing has been fed then).
bool LoadInputFiles(const std::vector<std::string>& names, std::vector<InputFile>& files);

// One ResetPieceStore, RecordingActive on, then every byte of every file with
// LastKind set to None at the start of each file; reports on; the log closed at the end.
std::vector<FedMessage> FeedAsReload(CliSession& session, const std::vector<InputFile>& files);

const char* OutcomeName(mc303::MessageOutcome outcome);  // "new", "no-piece", ...
const char* KindName(mc303::PieceKind kind);             // "pattern", "settings"

}  // namespace cli
