#include "smf/StandardMidiFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The SysEx of the tracks is gathered as runs of records, a run per track, in a buffer
// no larger than the file (about) itself: the file of many tiny events must not cost
// many times its size. A record is one SysEx as it will come out (a whole message, its
// F0 event and any continuations, or one escape event): LEB128 the ticks since the
// record before it in the run, LEB128 its byte count + 1, the bytes. A count field of 0
// ends the run. Each field takes no more bytes than the file spent on it (a delta, a
// status byte, a length), so the records never outgrow the file by more than a byte in
// a hundred.

std::size_t LebSize(std::uint64_t value) {
  std::size_t n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

// Writes value in exactly `bytes` bytes (at least LebSize(value)) at out.
void PutLeb(std::uint8_t* out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i + 1 < bytes; ++i) {
    out[i] = static_cast<std::uint8_t>(0x80 | (value & 0x7F));
    value >>= 7;
  }
  out[bytes - 1] = static_cast<std::uint8_t>(value);
}

void AppendLeb(ByteString& out, std::uint64_t value) {
  const std::size_t at = out.size();
  out.resize(at + LebSize(value));
  PutLeb(out.data() + at, value, out.size() - at);
}

std::uint64_t TakeLeb(const std::uint8_t* records, std::size_t& pos) {
  std::uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t b = records[pos++];
    value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return value;
  }
}

constexpr std::uint8_t kEndOfRun[] = {0x00, 0x00};

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

// Appends the track's SysEx to records as one run.
std::optional<SmfError> ReadTrack(const ByteString& f, std::size_t pos, std::size_t end, ByteString& records,
                                  std::size_t& eventCount) {
  std::uint64_t tick = 0;
  std::uint64_t lastUnitTick = 0;
  std::uint8_t runningStatus = 0;
  // The SysEx whose F0 event did not end in 0xF7: the F7 events that follow carry its
  // remaining bytes. It is the last record, so it may grow where it stands.
  bool open = false;
  std::size_t openCountAt = 0;  // where its count field stands
  std::uint64_t openCount = 0;
  const auto startUnit = [&](const std::uint8_t* lead, std::size_t leadBytes, const std::uint8_t* data,
                             std::size_t dataBytes) {
    AppendLeb(records, tick - lastUnitTick);
    lastUnitTick = tick;
    openCountAt = records.size();
    openCount = leadBytes + dataBytes;
    AppendLeb(records, openCount + 1);
    records.insert(records.end(), lead, lead + leadBytes);
    records.insert(records.end(), data, data + dataBytes);
  };
  const auto extendUnit = [&](const std::uint8_t* data, std::size_t dataBytes) {
    const std::size_t oldField = LebSize(openCount + 1);
    openCount += dataBytes;
    const std::size_t newField = LebSize(openCount + 1);
    // A count that needs another byte moves the bytes after it: at most a few times in
    // the life of a message, however many parts it comes in.
    if (newField > oldField) {
      records.insert(records.begin() + static_cast<std::ptrdiff_t>(openCountAt + oldField), newField - oldField, 0);
    }
    PutLeb(records.data() + openCountAt, openCount + 1, newField);
    records.insert(records.end(), data, data + dataBytes);
  };

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
      const std::uint8_t* data = f.data() + pos;
      pos += length;
      ++eventCount;
      const bool endsMessage = length > 0 && data[length - 1] == kSysexEnd;
      if (status == kSysexStart) {
        startUnit(&kSysexStart, 1, data, length);
        open = !endsMessage;
      } else if (open) {
        extendUnit(data, length);
        if (endsMessage) open = false;
      } else {
        startUnit(nullptr, 0, data, length);
      }
      continue;
    }

    return Error(eventStart, "status byte " + Hex(status) + " cannot stand in a MIDI file");
  }
  records.insert(records.end(), std::begin(kEndOfRun), std::end(kEndOfRun));
  return std::nullopt;
}

// Where the run that starts at pos ends (past its end mark).
std::size_t RunEnd(const std::uint8_t* records, std::size_t pos) {
  for (;;) {
    (void)TakeLeb(records, pos);
    const std::uint64_t count = TakeLeb(records, pos);
    if (count == 0) return pos;
    pos += static_cast<std::size_t>(count - 1);
  }
}

// Merges the runs at a and b (b follows a) into one at out, in time order; a tie goes
// to a, the earlier track. Each delta out is at most the one it came with (its record's
// predecessor out is no earlier than the one it had), so out never needs more room than
// the two runs took.
std::size_t MergeRuns(const std::uint8_t* in, std::size_t a, std::size_t b, std::uint8_t* out) {
  struct Cursor {
    std::size_t pos;
    std::uint64_t tick = 0;  // of the record at pos, once read
    std::uint64_t count = 0;
    bool ended = false;
    void Read(const std::uint8_t* records) {
      std::size_t at = pos;
      tick += TakeLeb(records, at);
      count = TakeLeb(records, at);
      ended = count == 0;
      pos = at;
    }
  };
  Cursor first{a}, second{b};
  first.Read(in);
  second.Read(in);
  std::size_t put = 0;
  std::uint64_t lastTick = 0;
  while (!first.ended || !second.ended) {
    Cursor& c = !first.ended && (second.ended || first.tick <= second.tick) ? first : second;
    const std::size_t deltaBytes = LebSize(c.tick - lastTick), countBytes = LebSize(c.count);
    PutLeb(out + put, c.tick - lastTick, deltaBytes);
    PutLeb(out + put + deltaBytes, c.count, countBytes);
    put += deltaBytes + countBytes;
    std::memmove(out + put, in + c.pos, static_cast<std::size_t>(c.count - 1));
    put += static_cast<std::size_t>(c.count - 1);
    c.pos += static_cast<std::size_t>(c.count - 1);
    lastTick = c.tick;
    c.Read(in);
  }
  std::memcpy(out + put, kEndOfRun, sizeof kEndOfRun);
  return put + sizeof kEndOfRun;
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

SmfReadResult ReadSysexFromSmf(ByteString f) {
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
  ByteString records;
  records.reserve(f.size() + f.size() / 64 + 64);
  std::size_t tracksRead = 0;
  std::size_t pos = kChunkHeaderBytes + headerLength;
  while (pos < f.size()) {
    std::uint32_t length = 0;
    if (auto error = ReadChunkHeader(f, pos, length)) return Failed(*error);
    const std::size_t body = pos + kChunkHeaderBytes;
    // Chunks of other types may be added to the format later; readers skip them.
    if (HasType(f, pos, "MTrk")) {
      if (auto error = ReadTrack(f, body, body + length, records, result.sysex.eventCount)) return Failed(*error);
      ++tracksRead;
    }
    pos = body + length;
  }
  if (tracksRead < declaredTracks) {
    return Failed(Error(f.size(), "the file ends after " + std::to_string(tracksRead) + " of the " +
                                      std::to_string(declaredTracks) + " tracks its header announces"));
  }
  f = ByteString();  // the records hold all that is wanted of it

  // Tracks of formats 0 and 1 play together: merged into time order, two runs at a time
  // (n log n in the tracks, never more than the records twice over in memory). Format 2
  // holds independent sequences, which come out one after the other.
  std::size_t used = records.size();
  if (format != 2 && tracksRead > 1) {
    ByteString merged(used);
    for (std::size_t runs = tracksRead; runs > 1;) {
      std::size_t in = 0, out = 0, left = 0;
      while (in < used) {
        const std::size_t second = RunEnd(records.data(), in);
        if (second == used) {
          std::memcpy(merged.data() + out, records.data() + in, used - in);
          out += used - in;
          in = used;
        } else {
          const std::size_t next = RunEnd(records.data(), second);
          out += MergeRuns(records.data(), in, second, merged.data() + out);
          in = next;
        }
        ++left;
      }
      records.swap(merged);
      used = out;
      runs = left;
    }
  }
  // The bytes alone, moved to the front where the records stood.
  std::size_t take = 0, put = 0;
  while (take < used) {
    (void)TakeLeb(records.data(), take);
    const std::uint64_t count = TakeLeb(records.data(), take);
    if (count == 0) continue;
    std::memmove(records.data() + put, records.data() + take, static_cast<std::size_t>(count - 1));
    put += static_cast<std::size_t>(count - 1);
    take += static_cast<std::size_t>(count - 1);
  }
  records.resize(put);
  records.shrink_to_fit();
  result.sysex.bytes = std::move(records);
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
