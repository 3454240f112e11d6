// Standard streams, and reading where another process decides when the bytes come
// (standard input, a pipe, a FIFO, a terminal) without waiting for ever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace platform {

// Standard streams carry bytes untouched on every system.
void UseBinaryStandardStreams();
bool StandardErrorIsTerminal();
// Writes every byte to standard output; 0, or the error number.
int WriteStandardOutput(const char* data, std::size_t size);
// True when the name leads to the very file standard output is (/dev/stdout, or the
// file it was sent to by the shell): that is written as standard output is.
bool IsStandardOutput(const std::filesystem::path& path);
// True when the name leads to the very file standard input reads (the file the shell
// sent to it): writing there replaces what is being read.
bool IsStandardInput(const std::filesystem::path& path);

// Reading a file the way fopen(path, "rb") and fread do, but opening a FIFO does not
// wait for its writer, and a read waits in short steps that a stop signal (StopSignals)
// ends. ReadWaiting fills data up to size, the end of the file or an error; error is
// then 0, the error number, or EINTR where a stop signal ended the wait. Writing
// (SafeFile, WriteStandardOutput) waits for a reader the same way.
std::FILE* OpenForReading(const std::filesystem::path& path, int& error);
std::size_t ReadWaiting(std::FILE* file, std::uint8_t* data, std::size_t size, int& error);
// From now on only a stop signal that comes later ends those waits: a capture ended by
// its first signal then saves its recording through a slow reader until the next one.
void WaitsEndOnNextStop();

}  // namespace platform
