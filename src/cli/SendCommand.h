// vezorizer-cli send: the FILEs sent as Send sends the Files box, on the same engine,
// through any MidiPorts layer (RtMidi from the command line, a fake in tests), or with
// no port at all for a dry run.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "midi/MidiPorts.h"

namespace cli {

struct SendOptions {
  std::optional<std::string> port;  // output slot number or a case-insensitive part of its name
  std::optional<std::int32_t> bufferSize;
  std::optional<std::int32_t> pauseMs;  // after each paced block
  bool dryRun = false;
  std::vector<std::string> files;
  // A progress line on standard error (bytes, blocks, time left), for a terminal.
  bool progress = false;
  // Looked in for SETTINGS.DAT after the current directory, in this order: where the
  // window program keeps it when it runs from its build or unpacked folder, and where an
  // installed window program keeps it (the per-user application data directory).
  std::filesystem::path programDirectory;
  std::filesystem::path userDataDirectory;
};

struct BufferSizeChoice {
  std::int32_t value = 0;
  std::optional<std::filesystem::path> from;  // the SETTINGS.DAT it came from
  bool unreadable = false;                    // `from` is there but could not be read
  std::int32_t pauseMs = 200;
  std::optional<std::filesystem::path> pauseFrom;  // when SETTINGS.DAT set another pause
};

// The buffer size a send uses: the option, else the first SETTINGS.DAT found in the
// current directory, programDirectory or userDataDirectory, else 139 (also when the
// file found cannot be read, as the window would do). The pause likewise: the option,
// else that file's, else 200.
BufferSizeChoice SendBufferSize(const SendOptions& options);

// ports: the layer to send through; nullptr for a dry run, which opens no port and
// does not pause. stops: counted up from another thread (SIGINT, SIGTERM): the first
// ends the send as the window's abort does, once the part being sent is whole; the
// second stops it at once. stopSignal then says which signal came first, for the exit
// status.
int RunSend(const SendOptions& options, midi::MidiPorts* ports, Console& console,
            const std::atomic<int>* stops = nullptr, const std::function<int()>& stopSignal = {});

// The per-user directory the installed window program uses for its files (Qt's
// application data location for "Vezorizer"); empty when the environment names no home.
std::filesystem::path UserDataDirectory();

}  // namespace cli
