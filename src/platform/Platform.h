// What the operating system does differently on each platform, in one place: standard
// streams and terminals, the signals that ask a run to stop, files written so that
// nothing already on the disk is lost or hijacked. POSIX systems get the careful path;
// every other system a portable one built on the C and C++ libraries alone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The text of an error number (errno, or one of these functions' results); EINTR, which
// they give only where a stop signal ended a wait, says so.
std::string ErrorText(int error);
// The error a write to a pipe whose reader has gone gives.
bool IsBrokenPipe(int error);

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

// The user's home: HOME, or where it is unset or empty, the password database's entry
// for the user when that is a folder other than the root; empty when neither names one
// (or the system has no such database).
std::filesystem::path HomeDirectory();

// A stream that reads the bytes given, which must outlive it; nullptr when none can be
// made. Lets code that reads files take bytes already in memory.
std::FILE* OpenBytesForReading(const std::uint8_t* data, std::size_t size);

// Signals turned into a flag instead of ending the process, for as long as the object
// lives: SIGINT and SIGTERM, or every signal that would end it and may be caught
// (SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, ...; on Linux). Made before any thread is started
// (a MIDI layer's), so that no such thread is the one a signal lands on. Each signal
// also ends the waits below on pipes, FIFOs and terminals.
enum class StopOn { InterruptAndTerminate, EveryEndingSignal };
class StopSignals {
 public:
  explicit StopSignals(StopOn which = StopOn::InterruptAndTerminate);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  const std::atomic<bool>& Flag() const;
  // How many signals have asked to stop so far: a second one may ask for more haste.
  const std::atomic<int>& Count() const;
  // The number of the first signal that asked to stop; 0 while none has.
  int Signal() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reading a file the way fopen(path, "rb") and fread do, but without waiting for ever
// where another process decides when the bytes come (standard input, a pipe, a FIFO, a
// terminal): opening a FIFO does not wait for its writer, and a read waits in short
// steps that a stop signal (StopSignals) ends. ReadWaiting fills data up to size, the
// end of the file or an error; error is then 0, the error number, or EINTR where a stop
// signal ended the wait. Writing (SafeFile, WriteStandardOutput) waits for a reader the
// same way.
std::FILE* OpenForReading(const std::filesystem::path& path, int& error);
std::size_t ReadWaiting(std::FILE* file, std::uint8_t* data, std::size_t size, int& error);
// From now on only a stop signal that comes later ends those waits: a capture ended by
// its first signal then saves its recording through a slow reader until the next one.
void WaitsEndOnNextStop();

// "SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", or "a signal" for any other number.
const char* SignalName(int signal);

// SIGTERM, SIGINT and SIGHUP turned, for as long as the object lives, into a byte on a
// pipe whose reading end an event loop watches: a handler may do nothing else, and the
// loop does the rest on its own thread. A signal that was ignored when it was made
// stays ignored (nohup ignores SIGHUP; a shell ignores SIGINT for what it starts in the
// background). Only one lives at a time. Where the system has no such signals, or the
// pipe cannot be made, ReadEnd() is -1 and nothing is caught.
class CloseSignals {
 public:
  CloseSignals();
  ~CloseSignals();
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;
  int ReadEnd() const;
  // Reads every byte waiting, so that the watcher is told only of new signals.
  void Drain();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sleeps while word holds value, until WakeWordWaiter(word), the timeout or a signal;
// false at once where the system offers no such wait (the caller polls instead).
// Waking takes no lock and allocates nothing, so a realtime thread may call it.
bool WaitWhileWordIs(std::atomic<std::uint32_t>& word, std::uint32_t value, std::chrono::milliseconds timeout);
void WakeWordWaiter(std::atomic<std::uint32_t>& word);

// True when a new file can be made in the directory: one is created there exclusively
// (so no one else's file is touched) and removed again.
bool CanCreateFileIn(const std::filesystem::path& directory);

// The exit status of a run ended by a signal: 128 plus its number (130 for SIGINT,
// 143 for SIGTERM).
int ExitStatusForSignal(int signal);

// A file written so that what was there is never lost or hijacked: the bytes go to a
// new file of an unpredictable name created beside the target (never through a link
// planted there), which takes the target's place only once it is complete, with the
// old file's permissions (and owner where allowed); a new file gets the usual mode less
// the umask. A symbolic link is written through to its target. A read-only file, a
// directory and an empty name are refused. A device, a FIFO or a name that reaches its
// file through an open file of a process (/proc/self/fd/N) is written directly, never
// replaced. A file with
// other hard links is written in place once its new contents are complete beside it,
// so every name still shows the same file. The new file is removed on every failure,
// on destruction without Commit, and when a signal ends the process (any that may be
// caught: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGALRM, SIGUSR1, ...).
class SafeFile {
 public:
  SafeFile();
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // Every call returns the reason on failure, and nothing when it succeeded.
  [[nodiscard]] std::optional<std::string> Open(const std::filesystem::path& path);
  [[nodiscard]] std::optional<std::string> Write(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] std::optional<std::string> Commit();
  // Drops what was written; the target stays as it was (a device has had it already).
  void Discard();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Open, one Write and Commit.
[[nodiscard]] std::optional<std::string> WriteFileSafely(const std::filesystem::path& path, const std::uint8_t* data,
                                                         std::size_t size);

}  // namespace platform
