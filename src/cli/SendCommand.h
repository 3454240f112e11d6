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
  // Looked in for SETTINGS.DAT after the current directory, in this order: where the
  // window program keeps it when it runs from its build or unpacked folder, and where an
  // installed window program keeps it (the per-user application data directory).
  std::filesystem::path programDirectory;
  std::filesystem::path userDataDirectory;
};

// The buffer size a send uses: the option, else the first SETTINGS.DAT found in the
// current directory, programDirectory or userDataDirectory, else 139; `from` names the
// file it came from.
std::int32_t SendBufferSize(const SendOptions& options, std::optional<std::filesystem::path>& from);

// ports: the layer to send through; nullptr for a dry run, which opens no port and
// does not pause.
int RunSend(const SendOptions& options, midi::MidiPorts* ports, std::ostream& out = std::cout,
            std::ostream& err = std::cerr);

// The per-user directory the installed window program uses for its files (Qt's
// application data location for "Vezorizer"); empty when the environment names no home.
std::filesystem::path UserDataDirectory();

}  // namespace cli
