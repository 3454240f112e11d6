// Standard MIDI Files as a container for SysEx: reading every SysEx byte out of a .mid
// in time order, and writing raw .syx bytes as a format 0 .mid. Used by `convert`, and
// by every subcommand that reads a FILE, which takes a .mid for its SysEx.
//
// Written here rather than taken from Debian's libsmf: its loader aborts the process
// on F7 continuation and escape events and on a SysEx event after running status, and
// on a truncated track, an over-long variable-length number or a length past the end
// it drops the rest of the track and still reports success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace smf {

using ByteString = std::vector<std::uint8_t>;

// Why a file could not be read, and the byte offset in the file where the fault stands.
struct SmfError {
  std::uint64_t offset = 0;
  std::string reason;
};

struct SmfSysex {
  // The bytes of every F0 event (0xF0 and its data) and every F7 event (its data only)
  // back to back, which is exactly the stream a player would send.
  ByteString bytes;
  std::size_t eventCount = 0;  // F0 and F7 events read
};

struct SmfReadResult {
  SmfSysex sysex;
  std::optional<SmfError> error;  // set: nothing in sysex is to be used
};

// The file begins with the header chunk's name "MThd".
bool IsStandardMidiFile(const ByteString& file);

// Formats 0 and 1 come out in time order over all tracks (ties: lower track first);
// format 2 holds independent sequences, so its tracks come out one after the other.
// A SysEx split into an F0 event and F7 continuation events is kept together at the
// time of its first part. Meta and channel events are skipped; running status is
// honoured, also across meta and SysEx events, which some writers rely on. The file is
// taken over (moved in) and let go once read, so that reading it costs at most about
// twice its size, however tiny its events.
[[nodiscard]] SmfReadResult ReadSysexFromSmf(ByteString file);

// 120 beats per minute at 480 ticks per quarter note.
inline constexpr int kSmfTicksPerQuarter = 480;
inline constexpr std::uint32_t kSmfMicrosecondsPerQuarter = 500000;
// Keeps every message's delta time inside the four bytes a delta may take.
inline constexpr int kSmfMaxIntervalMs = 3600000;

struct SmfWriteOptions {
  int intervalMs = 200;
  // Keep the bytes outside messages, and real-time bytes inside them, for a byte-exact
  // round trip; some readers refuse the escape events and data bytes this takes.
  bool keepStray = false;
};

struct SmfWriteResult {
  std::optional<std::string> error;  // why the bytes make no MIDI file; nothing was written
  bool writeFailed = false;          // write refused a piece; the file is incomplete
  std::size_t messages = 0;          // F0 events written
  std::size_t leftOutBytes = 0;      // bytes of the input not written (never with keepStray)
};

// A format 0 file with one track: a tempo event, then every F0 ... F7 message of the
// raw bytes as one F0 event, the k-th (from 0) at k * intervalMs. A message cut off by
// a new 0xF0, by the end of the bytes or (unless keepStray) by any other status byte
// that is not real-time becomes an F0 event of its own without the final 0xF7.
// Bytes outside messages (active sensing, stray bytes) and real-time bytes inside them
// are wire traffic, not data, and are left out. With keepStray they travel as they are:
// each run outside messages as one F7 escape event at the time of the message before
// it, so reading the file back gives every byte again in place.
// Handed to write in pieces as it is made, never held whole; a false from write ends
// it (writeFailed). Nothing is handed over when the bytes hold no message or do not fit
// in a MIDI file (error).
[[nodiscard]] SmfWriteResult StreamSysexAsSmf(const ByteString& syx, const SmfWriteOptions& options,
                                              const std::function<bool(const std::uint8_t*, std::size_t)>& write);
// The same file, whole, in file.
[[nodiscard]] SmfWriteResult WriteSysexAsSmf(const ByteString& syx, const SmfWriteOptions& options, ByteString& file);

// "not a readable Standard MIDI File: at byte offset N, REASON", to follow a file's name.
std::string SmfErrorText(const SmfError& error);

}  // namespace smf
