// vezorizer-cli send: the FILEs sent as Send sends the Files box, on the same engine,
// through any MidiPorts layer (RtMidi from the command line, a fake in tests), or with
// no port at all for a dry run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"

namespace cli {

struct SendOptions {
  std::optional<std::string> port;  // output slot number or a case-insensitive part of its name
  std::optional<std::int32_t> bufferSize;
  bool dryRun = false;
  bool json = false;
  std::vector<std::string> files;
  // Looked in for SETTINGS.DAT after the current directory: where the window program
  // keeps it when both programs are installed side by side.
  std::filesystem::path programDirectory;
};

// The buffer size a send uses: the option, else SETTINGS.DAT of the current directory,
// else that of programDirectory, else 139; `from` names the file it came from.
std::int32_t SendBufferSize(const SendOptions& options, std::optional<std::filesystem::path>& from);

// ports: the layer to send through; nullptr for a dry run, which opens no port and
// does not pause.
int RunSend(const SendOptions& options, midi::MidiPorts* ports, std::ostream& out = std::cout,
            std::ostream& err = std::cerr);

}  // namespace cli
