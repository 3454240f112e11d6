#include "smf/StandardMidiFile.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <limits>

namespace smf {
namespace {

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;  // also the status of continuation and escape events
constexpr std::uint8_t kMetaEvent = 0xFF;
constexpr std::uint8_t kEndOfTrack = 0x2F;
constexpr std::uint8_t kTempo = 0x51;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kMinHeaderBytes = 6;  // format, track count, division
// Four bytes of seven bits each.
constexpr std::uint32_t kMaxVarLen = 0x0FFFFFFF;

// One SysEx as it will come out: a whole message (its F0 event and any continuations)
// or one escape event.
struct SysexUnit {
  std::uint64_t tick = 0;
  ByteString bytes;
};

SmfError Error(std::uint64_t offset, std::string reason) { return SmfError{offset, std::move(reason)}; }

std::string Hex(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::uint32_t BigEndian(const ByteString& f, std::size_t pos, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | f[pos + static_cast<std::size_t>(i)];
  return value;
}

// Reads one variable-length number from pos (not past end) and moves pos beyond it.
std::optional<SmfError> ReadVarLen(const ByteString& f, std::size_t& pos, std::size_t end, std::uint32_t& value) {
  const std::size_t start = pos;
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= end) return Error(start, "a variable-length number runs past the end of its track");
    const std::uint8_t b = f[pos++];
    value = (value << 7) | (b & 0x7Fu);
    if ((b & 0x80) == 0) return std::nullopt;
  }
  return Error(start, "a variable-length number is longer than four bytes");
}

// Reads a length and checks that that many bytes follow inside the track.
std::optional<SmfError> ReadLength(const ByteString& f, std::size_t& pos, std::size_t end, std::uint32_t& length) {
  const std::size_t start = pos;
  if (auto error = ReadVarLen(f, pos, end, length)) return error;
  if (length > end - pos) {
    return Error(start, "length " + std::to_string(length) + " runs past the end of its track, which ends at byte offset " +
                            std::to_string(end));
  }
  return std::nullopt;
}

std::optional<SmfError> ReadTrack(const ByteString& f, std::size_t pos, std::size_t end, std::vector<SysexUnit>& units,
                                  std::size_t& eventCount) {
  std::uint64_t tick = 0;
  std::uint8_t runningStatus = 0;
  // The SysEx whose F0 event did not end in 0xF7: the F7 events that follow carry its
  // remaining bytes.
  constexpr std::size_t kNoneOpen = static_cast<std::size_t>(-1);
  std::size_t open = kNoneOpen;
  while (pos < end) {
    std::uint32_t delta = 0;
    if (auto error = ReadVarLen(f, pos, end, delta)) return error;
    tick += delta;
    const std::size_t eventStart = pos;
    if (pos >= end) return Error(eventStart, "the track ends after a delta time, without its event");
    std::uint8_t status = f[pos];
    if (status < 0x80) {
      if (runningStatus == 0) return Error(eventStart, "data byte " + Hex(status) + " with no running status in effect");
      status = runningStatus;
    } else {
      ++pos;
    }

    if (status < 0xF0) {
      runningStatus = status;
      const std::size_t dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
      if (end - pos < dataBytes) return Error(eventStart, "the track ends inside a channel event");
      pos += dataBytes;
      continue;
    }

    if (status == kMetaEvent) {
      if (pos >= end) return Error(eventStart, "the track ends inside a meta event");
      const std::uint8_t type = f[pos++];
      std::uint32_t length = 0;
      if (auto error = ReadLength(f, pos, end, length)) return error;
      pos += length;
      if (type == kEndOfTrack) break;  // what may follow it inside the chunk is no event
      continue;
    }

    if (status == kSysexStart || status == kSysexEnd) {
      std::uint32_t length = 0;
      if (auto error = ReadLength(f, pos, end, length)) return error;
      const auto data = f.begin() + static_cast<std::ptrdiff_t>(pos);
      const auto dataEnd = data + static_cast<std::ptrdiff_t>(length);
      pos += length;
      ++eventCount;
      const bool endsMessage = length > 0 && *(dataEnd - 1) == kSysexEnd;
      if (status == kSysexStart) {
        SysexUnit unit{tick, {kSysexStart}};
        unit.bytes.insert(unit.bytes.end(), data, dataEnd);
        units.push_back(std::move(unit));
        open = endsMessage ? kNoneOpen : units.size() - 1;
      } else if (open != kNoneOpen) {
        ByteString& message = units[open].bytes;
        message.insert(message.end(), data, dataEnd);
        if (endsMessage) open = kNoneOpen;
      } else {
        units.push_back(SysexUnit{tick, ByteString(data, dataEnd)});
      }
      continue;
    }

    return Error(eventStart, "status byte " + Hex(status) + " cannot stand in a MIDI file");
  }
  return std::nullopt;
}

// Checks that a whole chunk header and the chunk it announces lie inside the file.
std::optional<SmfError> ReadChunkHeader(const ByteString& f, std::size_t pos, std::uint32_t& length) {
  const std::size_t left = f.size() - pos;
  if (left < kChunkHeaderBytes) {
    return Error(pos, "the file ends inside a chunk header (" + std::to_string(left) + " of 8 bytes)");
  }
  length = BigEndian(f, pos + 4, 4);
  if (length > left - kChunkHeaderBytes) {
    return Error(pos, "a chunk of " + std::to_string(length) + " bytes runs past the end of the file (" +
                          std::to_string(f.size()) + " bytes)");
  }
  return std::nullopt;
}

bool HasType(const ByteString& f, std::size_t pos, const char (&type)[5]) {
  return std::equal(type, type + 4, f.begin() + static_cast<std::ptrdiff_t>(pos));
}

SmfReadResult Failed(SmfError error) {
  SmfReadResult result;
  result.error = std::move(error);
  return result;
}

void AppendVarLen(ByteString& out, std::uint32_t value) {
  std::uint8_t groups[4];
  int count = 0;
  do {
    groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && count < 4);
  while (count-- > 0) out.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
}

void AppendBigEndian(ByteString& out, std::uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

constexpr std::uint8_t kFirstRealTime = 0xF8;

// Where the message whose 0xF0 stands just before pos ends (past its 0xF7), counting the
// bytes inside it that are left out. A new 0xF0 cuts the message off. Unless every byte
// is kept, only data bytes go in: a real-time byte (clock, active sensing) may stand
// inside a message on the wire and is left out, and any other status byte ends the
// message there, as it does on the wire.
std::size_t MessageEnd(const ByteString& syx, std::size_t pos, bool keepStray, std::size_t& leftOut) {
  while (pos < syx.size() && syx[pos] != kSysexStart) {
    const std::uint8_t b = syx[pos];
    if (keepStray || b < 0x80 || b == kSysexEnd) {
      ++pos;
      if (b == kSysexEnd) break;
    } else if (b >= kFirstRealTime) {
      ++leftOut;
      ++pos;
    } else {
      break;
    }
  }
  return pos;
}

}  // namespace

bool IsStandardMidiFile(const ByteString& file) { return file.size() >= 4 && HasType(file, 0, "MThd"); }

SmfReadResult ReadSysexFromSmf(const ByteString& f) {
  if (!IsStandardMidiFile(f)) return Failed(Error(0, "the file does not begin with \"MThd\""));
  std::uint32_t headerLength = 0;
  if (auto error = ReadChunkHeader(f, 0, headerLength)) return Failed(*error);
  if (headerLength < kMinHeaderBytes) {
    return Failed(Error(4, "the header chunk holds " + std::to_string(headerLength) + " bytes, fewer than 6"));
  }
  const std::uint32_t format = BigEndian(f, 8, 2);
  const std::uint32_t declaredTracks = BigEndian(f, 10, 2);
  // The division (bytes 12-13) only scales time; the order of events does not need it.
  if (format > 2) return Failed(Error(8, "format " + std::to_string(format) + " is none of 0, 1 and 2"));

  SmfReadResult result;
  std::vector<SysexUnit> units;
  std::size_t tracksRead = 0;
  std::size_t pos = kChunkHeaderBytes + headerLength;
  while (pos < f.size()) {
    std::uint32_t length = 0;
    if (auto error = ReadChunkHeader(f, pos, length)) return Failed(*error);
    const std::size_t body = pos + kChunkHeaderBytes;
    // Chunks of other types may be added to the format later; readers skip them.
    if (HasType(f, pos, "MTrk")) {
      if (auto error = ReadTrack(f, body, body + length, units, result.sysex.eventCount)) return Failed(*error);
      ++tracksRead;
    }
    pos = body + length;
  }
  if (tracksRead < declaredTracks) {
    return Failed(Error(f.size(), "the file ends after " + std::to_string(tracksRead) + " of the " +
                                      std::to_string(declaredTracks) + " tracks its header announces"));
  }
  // Tracks of formats 0 and 1 play together: order by time, once over all tracks (a
  // merge after each track would make a file of many short tracks quadratic). A stable
  // sort keeps equal times in file order, so an earlier track wins a tie.
  if (format != 2) {
    std::stable_sort(units.begin(), units.end(),
                     [](const SysexUnit& a, const SysexUnit& b) { return a.tick < b.tick; });
  }
  for (const SysexUnit& unit : units) {
    result.sysex.bytes.insert(result.sysex.bytes.end(), unit.bytes.begin(), unit.bytes.end());
  }
  return result;
}

namespace {

// The track's events, each handed to emit in pieces (a pointer and a length) in order;
// what was written and left out is counted in result. An event too long for a MIDI file
// sets result.error and ends it before any of that event is emitted.
template <typename Emit>
void EmitTrackEvents(const ByteString& syx, const SmfWriteOptions& options, SmfWriteResult& result, Emit&& emit) {
  const std::uint64_t interval = static_cast<std::uint64_t>(std::clamp(options.intervalMs, 0, kSmfMaxIntervalMs));
  const std::uint8_t tempo[] = {0x00, kMetaEvent, kTempo, 0x03, static_cast<std::uint8_t>(kSmfMicrosecondsPerQuarter >> 16),
                                static_cast<std::uint8_t>(kSmfMicrosecondsPerQuarter >> 8),
                                static_cast<std::uint8_t>(kSmfMicrosecondsPerQuarter)};
  emit(tempo, sizeof tempo);
  std::uint64_t lastTick = 0;
  ByteString framing;
  ByteString kept;  // a message's bytes less the real-time bytes inside it
  std::size_t pos = 0;
  while (pos < syx.size()) {
    const bool message = syx[pos] == kSysexStart;
    const std::size_t start = pos;
    // The event's bytes after its status byte: a run of the input, unless bytes inside
    // it are left out.
    const std::uint8_t* data = syx.data() + pos + (message ? 1 : 0);
    std::size_t dataBytes = 0;
    if (message) {
      const std::size_t leftBefore = result.leftOutBytes;
      pos = MessageEnd(syx, pos + 1, options.keepStray, result.leftOutBytes);
      dataBytes = pos - start - 1;
      if (result.leftOutBytes != leftBefore) {
        kept.clear();
        std::copy_if(data, data + dataBytes, std::back_inserter(kept), [](std::uint8_t b) { return b < kFirstRealTime; });
        data = kept.data();
        dataBytes = kept.size();
      }
    } else if (options.keepStray) {
      while (pos < syx.size() && syx[pos] != kSysexStart) ++pos;
      dataBytes = pos - start;
    } else {
      ++result.leftOutBytes;
      ++pos;
      continue;
    }

    std::uint64_t tick = lastTick;
    if (message) {
      // At 120 bpm and 480 ticks a quarter, 1 ms is 24/25 of a tick. Each message's
      // time is rounded from its exact position, never from the previous delta, so
      // rounding does not add up over a long dump; 25 is odd, so there is no tie.
      tick = (result.messages * interval * 24 + 12) / 25;
      ++result.messages;
    }
    if (dataBytes > kMaxVarLen) {
      result.error =
          "the run of bytes at byte offset " + std::to_string(start) + " is longer than a MIDI file event can hold";
      return;
    }
    framing.clear();
    AppendVarLen(framing, static_cast<std::uint32_t>(tick - lastTick));
    framing.push_back(message ? kSysexStart : kSysexEnd);
    AppendVarLen(framing, static_cast<std::uint32_t>(dataBytes));
    emit(framing.data(), framing.size());
    emit(data, dataBytes);
    lastTick = tick;
  }
  const std::uint8_t endOfTrack[] = {0x00, kMetaEvent, kEndOfTrack, 0x00};
  emit(endOfTrack, sizeof endOfTrack);
}

}  // namespace

SmfWriteResult StreamSysexAsSmf(const ByteString& syx, const SmfWriteOptions& options,
                                const std::function<bool(const std::uint8_t*, std::size_t)>& write) {
  // Measured first, for the track's length in its header, then written in pieces: a
  // dump is never held a second time.
  SmfWriteResult result;
  std::uint64_t trackBytes = 0;
  EmitTrackEvents(syx, options, result, [&](const std::uint8_t*, std::size_t n) { trackBytes += n; });
  if (result.error) return result;
  if (result.messages == 0) {
    result.error = "holds no SysEx message";
    return result;
  }
  if (trackBytes > std::numeric_limits<std::uint32_t>::max()) {
    result.error = "too many bytes for one MIDI track";
    return result;
  }

  ByteString buffer = {'M', 'T', 'h', 'd'};
  constexpr std::size_t kBufferBytes = 256 * 1024;
  buffer.reserve(kBufferBytes);
  AppendBigEndian(buffer, kMinHeaderBytes, 4);
  AppendBigEndian(buffer, 0, 2);  // format 0
  AppendBigEndian(buffer, 1, 2);  // one track
  AppendBigEndian(buffer, kSmfTicksPerQuarter, 2);
  buffer.insert(buffer.end(), {'M', 'T', 'r', 'k'});
  AppendBigEndian(buffer, static_cast<std::uint32_t>(trackBytes), 4);
  bool written = true;
  SmfWriteResult again;  // the same counts as the measure
  EmitTrackEvents(syx, options, again, [&](const std::uint8_t* bytes, std::size_t n) {
    if (buffer.size() + n > kBufferBytes) {
      written = written && write(buffer.data(), buffer.size());
      buffer.clear();
    }
    if (n > kBufferBytes) {
      written = written && write(bytes, n);
    } else {
      buffer.insert(buffer.end(), bytes, bytes + n);
    }
  });
  result.writeFailed = !(written && write(buffer.data(), buffer.size()));
  return result;
}

SmfWriteResult WriteSysexAsSmf(const ByteString& syx, const SmfWriteOptions& options, ByteString& file) {
  file.clear();
  return StreamSysexAsSmf(syx, options, [&file](const std::uint8_t* bytes, std::size_t n) {
    file.insert(file.end(), bytes, bytes + n);
    return true;
  });
}

std::string SmfErrorText(const SmfError& error) {
  return "not a readable Standard MIDI File: at byte offset " + std::to_string(error.offset) + ", " + error.reason;
}

}  // namespace smf
