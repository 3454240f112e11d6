#include "mc303/SysexParser.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "mc303/AddressMap.h"
#include "roles/HexByte.h"

namespace mc303 {
namespace {

constexpr std::int32_t kSysexStart = 0xF0;
constexpr std::int32_t kSysexEnd = 0xF7;
constexpr std::int32_t kActiveSensing = 0xFE;
constexpr std::int32_t kTimingClock = 0xF8;
constexpr std::int32_t kFirstStatus = 0x80;
constexpr std::int32_t kFirstRealTime = 0xF8;
constexpr std::int32_t kRoland = 0x41;
constexpr std::int32_t kModelId1 = 0x00;
constexpr std::int32_t kModelId2 = 0x03;  // MC-303
constexpr std::int32_t kDataSet = 0x12;

constexpr const char* kLineBreak = "\r\n";

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Hexadecimal in upper case without leading zeros: 0x0A gives "A", 0 gives "0".
std::string HexNoPad(std::int32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  auto v = static_cast<std::uint32_t>(value);
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 0xFu]);
    v >>= 4;
  } while (v != 0);
  return out;
}

std::string TwoDigits(int n) {
  return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

}  // namespace

MC303Parse::MC303Parse(SharedFlags& flags, roles::TextBox& tPieces, roles::TextBox& tDev, roles::EventPump& pump,
                       roles::Dialogs& dialogs, OutputLogFile& log)
    : flags_(flags), tPieces_(tPieces), tDev_(tDev), pump_(pump), dialogs_(dialogs), log_(log) {
  batch_ = std::make_unique<std::uint8_t[]>(kBatchBytes);
}

MC303Parse::~MC303Parse() { CloseOutfile(); }

void MC303Parse::ResetPieceStore() {
  tPieces_.SetText("");
  store_.PendingBytes.clear();
  for (int s = 0; s < kUserSlots; ++s) {
    store_.PatternPresent[s] = false;
    store_.SettingsPresent[s] = false;
    store_.PatternData[s].clear();
    store_.SettingsData[s].clear();
  }
  parse_.State = 0;
  lines_.DeviceLineCount = 0;
  outfile_.ErrorCount = 0;
  store_.LastKind = static_cast<std::int16_t>(PieceKind::None);
  store_.LastSlot = kNoSlot;
  outfile_.RestartPending = true;
  ++resetGeneration_;
}

bool MC303Parse::ParseMidiByteFull(std::int32_t byte, bool report) {
  bool result = true;
  const std::uint64_t index = bytesFed_++;
  if (byte == kActiveSensing || byte == kTimingClock) return result;
  if (!outfile_.Suppressed) LogByteToOutfile(byte);
  store_.PendingBytes.push_back(static_cast<std::uint8_t>(byte));

  ParseState& p = parse_;
  // As on a MIDI cable: a real-time byte may stand anywhere, inside a message too, and
  // belongs to none; any other status byte ends a message under way (a new 0xF0 starts
  // the next one), so that a message cut short never swallows the next one. The bytes
  // of a message cut off stay pending, as those of a broken-off header do.
  if (byte >= kFirstRealTime) return result;
  if (byte >= kFirstStatus && p.State != 0 && !(p.State == 10 && byte == kSysexEnd)) {
    ResetParseState(byte);
    return result;
  }
  switch (p.State) {
    case 0:
      if (byte == kSysexStart) {
        p.State = 1;
        messageStart_ = index;
      }
      break;
    case 1:
      if (byte == kRoland) {
        p.Sum = kRoland;
        p.State = 2;
      } else {
        ResetParseState(byte);
      }
      break;
    case 2:
      p.DeviceId = byte;
      p.Sum = (p.Sum + byte) % 256;
      p.State = 3;
      break;
    case 3:
      if (byte == kModelId1) {
        p.Sum = (p.Sum + byte) % 256;
        p.State = 4;
      } else {
        ResetParseState(byte);
      }
      break;
    case 4:
      if (byte == kModelId2) {
        p.Sum = (p.Sum + byte) % 256;
        p.State = 5;
      } else {
        ResetParseState(byte);
      }
      break;
    case 5:
      if (byte == kDataSet) {
        p.Sum = 0;
        p.State = 6;
      } else {
        ResetParseState(byte);
      }
      break;
    case 6:
    case 7:
    case 8:
    case 9:
      p.Address[static_cast<std::size_t>(p.State - 6)] = byte;
      p.Sum = (p.Sum + byte) % 256;
      if (p.State == 9) {
        p.DataCount = 0;
        // No byte has come after this address yet; the previous message's checksum
        // must not stand in for this one's.
        p.LastByte = 0;
      }
      ++p.State;
      break;
    case 10:
      p.Sum = (p.Sum + byte) % 256;
      if (byte != kSysexEnd) {
        ++p.DataCount;
        p.LastByte = byte;
      } else {
        CompleteMessage(report, result);
      }
      break;
    default:
      break;
  }
  return result;
}

void MC303Parse::CompleteMessage(bool report, bool& result) {
  ParseState& p = parse_;
  // Sum holds address + data + checksum + F7; the Roland checksum makes address + data
  // + checksum a multiple of 128.
  std::int32_t expected = p.Sum - kSysexEnd - p.LastByte;
  while (expected < 0) expected += 256;
  expected = 128 - (expected % 128);
  if (expected >= 128) expected = 0;
  p.Sum = expected;

  // A message that ends right after its address has no checksum byte to test, so it
  // cannot pass the test.
  const bool good = p.DataCount > 0 && p.Sum == p.LastByte;
  const bool wantLine = report || static_cast<bool>(observer_);
  if (wantLine) {
    if (good) FormatGoodReportLine(p, line_);
    else FormatBadReportLine(p, line_);
  }
  if (report) {
    line_ += kLineBreak;
    ShowDeviceLine(line_);
    line_.resize(line_.size() - 2);
  }

  MessageReport r;
  if (observer_) {
    r.address = {p.Address[0], p.Address[1], p.Address[2], p.Address[3]};
    r.dataCount = p.DataCount;
    r.receivedChecksum = p.LastByte;
    r.expectedChecksum = expected;
    r.startIndex = messageStart_;
    r.reportLine = line_;
  }
  if (good) {
    result = IdentifyPiece(p.DeviceId, p.Address[0], p.Address[1], p.Address[2], p.Address[3],
                           store_.PendingBytes);
    r.outcome = lastIdentified_.outcome;
    r.userNumber = lastIdentified_.userNumber;
    r.kind = lastIdentified_.kind;
  } else {
    result = false;
    r.outcome = MessageOutcome::BadChecksum;
  }
  parse_.State = 0;
  lastOutcome_ = good ? lastIdentified_.outcome : MessageOutcome::BadChecksum;
  if (observer_) observer_(r);
}

void MC303Parse::FormatGoodReportLine(const ParseState& p, std::string& line) {
  line.clear();
  char hex[2];
  for (std::size_t i = 0; i < 4; ++i) {
    roles::HexByteInto(p.Address[i], hex);
    line.append(hex, 2);
  }
  // A number is written with a blank where a plus sign would stand.
  if (p.DataCount >= 0) line += ' ';
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, p.DataCount).ptr;
  line.append(digits, end);
  line += " BYTES.";
}

void MC303Parse::FormatBadReportLine(const ParseState& p, std::string& line) {
  line = roles::HexByte(p.Address[0]) + roles::HexByte(p.Address[1]) + HexNoPad(p.Address[2]) +
         HexNoPad(p.Address[3]);
  line += " BAD CKS (WAS " + roles::HexByte(p.LastByte) + ", EXPECTED " + roles::HexByte(p.Sum) + ")!";
}

void MC303Parse::ResetParseState(std::int32_t byte) {
  if (byte == kSysexStart) {
    parse_.State = 1;
    messageStart_ = bytesFed_ - 1;
  } else {
    parse_.State = 0;
  }
}

void MC303Parse::LogByteToOutfile(std::int32_t byte) {
  if (!flags_.RecordingActive) return;
  // The common case first: the log is running and the count has room.
  if (!outfile_.RestartPending && logOpen_ &&
      outfile_.ByteCount < kMaxByteCount) {
    batch_[batchSize_++] = static_cast<std::uint8_t>(byte);
    ++outfile_.ByteCount;
    if (batchSize_ >= kBatchBytes) FlushBatch();
    return;
  }
  if (outfile_.RestartPending) {
    outfile_.ByteCount = 0;
    outfile_.RestartPending = false;
    // A log still open from the recording that the reset ended is dropped, not
    // flushed: its file is deleted right here, and on some systems an open file
    // cannot be deleted at all.
    batchSize_ = 0;
    log_.Close();
    log_.Delete();
    if (!log_.Create()) (void)log_.Create();
    logOpen_ = log_.IsOpen();
  }
  if (!logOpen_) {
    ReportIoError();
    return;
  }
  batch_[batchSize_++] = static_cast<std::uint8_t>(byte);
  if (outfile_.ByteCount == std::numeric_limits<std::int32_t>::max()) {
    dialogs_.MessageBox("Wow that's a lot of bytes.");
    outfile_.ByteCount = 0;
  } else {
    ++outfile_.ByteCount;
  }
  if (batchSize_ >= kBatchBytes) FlushBatch();
}

void MC303Parse::FlushBatch() {
  if (batchSize_ == 0) return;
  const std::size_t written = log_.Write(batch_.get(), batchSize_);
  const std::size_t failed = batchSize_ - std::min(written, batchSize_);
  batchSize_ = 0;
  if (failed == 0) return;
  // Each byte that did not reach the file is one failed write: not counted, and
  // reported until the limit of messages is reached.
  outfile_.ByteCount = static_cast<std::int32_t>(
      std::max<std::int64_t>(0, static_cast<std::int64_t>(outfile_.ByteCount) - static_cast<std::int64_t>(failed)));
  for (std::size_t i = 0; i < failed && outfile_.ErrorCount < 3; ++i) ReportIoError();
}

void MC303Parse::ReportIoError() {
  if (outfile_.ErrorCount >= 3) return;
  ++outfile_.ErrorCount;
  dialogs_.MessageBox("I/O Error accessing " + log_.Location());
}

void MC303Parse::CloseOutfile() {
  if (!log_.IsOpen()) {
    batchSize_ = 0;
    logOpen_ = false;
    return;
  }
  FlushBatch();
  log_.Close();
  logOpen_ = false;
}

void MC303Parse::FlushOutfile() {
  if (log_.IsOpen()) FlushBatch();
}

void MC303Parse::ShowDeviceLine(const std::string& line) {
  if (!flags_.RecordingActive) return;
  auto& lines = lines_.Lines;
  if (lines_.DeviceLineCount < kDeviceLinesShown) {
    lines[static_cast<std::size_t>(lines_.DeviceLineCount)] = line;
    ++lines_.DeviceLineCount;
  } else {
    // Line 0 drops out; rotating keeps each string's storage for reuse.
    std::rotate(lines.begin(), lines.begin() + 1, lines.begin() + kDeviceLinesShown);
    lines[kDeviceLinesShown - 1] = line;
  }
  std::string text;
  std::size_t size = 0;
  for (int i = 0; i < lines_.DeviceLineCount; ++i) size += lines[static_cast<std::size_t>(i)].size();
  text.reserve(size);
  for (int i = 0; i < lines_.DeviceLineCount; ++i) text += lines[static_cast<std::size_t>(i)];
  tDev_.SetText(std::move(text));
}

bool MC303Parse::IdentifyPiece(std::int32_t /*deviceId*/, std::int32_t address0, std::int32_t address1,
                               std::int32_t /*address2*/, std::int32_t /*address3*/, ByteString& pending) {
  bool result = true;
  lastIdentified_ = MessageReport{};
  const std::optional<PieceAddress> piece = PieceAt(address0, address1);
  if (!piece) return result;
  const int slot = piece->slotIndex;
  const PieceKind kind = piece->kind;

  const auto s = static_cast<std::size_t>(slot);
  const bool pattern = kind == PieceKind::Pattern;
  bool& own = pattern ? store_.PatternPresent[s] : store_.SettingsPresent[s];
  const bool other = pattern ? store_.SettingsPresent[s] : store_.PatternPresent[s];
  lastIdentified_.userNumber = slot + 1;
  lastIdentified_.kind = kind;

  const std::uint64_t generation = resetGeneration_;
  if (!own) {
    store_.LastSlot = static_cast<std::int16_t>(slot);
    store_.LastKind = static_cast<std::int16_t>(kind);
    lastIdentified_.outcome = MessageOutcome::New;
    std::string line = "U";
    line += TwoDigits(slot + 1);
    if (!other) line += pattern ? " Missing Settings" : " Settings Only";
    line += kLineBreak;
    AddPieceLine(line);
  } else if (store_.LastSlot == slot && store_.LastKind == static_cast<std::int16_t>(kind)) {
    lastIdentified_.outcome = MessageOutcome::Continued;
  } else {
    lastIdentified_.outcome = MessageOutcome::Duplicate;
    result = false;
  }
  // Tidying the Pieces box pumps events; if a handler reset the store meanwhile, this
  // message's bytes went with it, and marking the piece present would file an empty
  // piece that a later save would write out.
  if (generation != resetGeneration_) return result;

  own = true;
  ByteString& data = pattern ? store_.PatternData[s] : store_.SettingsData[s];
  data.insert(data.end(), pending.begin(), pending.end());
  pending.clear();
  return result;
}

void MC303Parse::AddPieceLine(const std::string& line) {
  tPieces_.SetCaretToEnd();
  const std::size_t maxLength = static_cast<std::size_t>(tPieces_.MaxLength());
  if (maxLength > 0 && tPieces_.Text().size() + line.size() > maxLength) {
    const std::string& text = tPieces_.Text();
    const std::size_t keep = std::min(maxLength / 2, text.size());
    tPieces_.SetText(text.substr(text.size() - keep) + line);
  } else {
    tPieces_.Append(line);
  }

  // Remove the older line of any slot that now has two, one at a time, walking afresh
  // after each removal; the box is re-read at every character because the events
  // pumped here may change it.
  for (;;) {
    std::array<bool, kUserSlots + 1> seen{};
    std::array<std::size_t, kUserSlots + 1> seenStart{};
    std::array<std::size_t, kUserSlots + 1> seenNext{};
    bool removed = false;
    std::size_t lineStart = 0;
    bool inBreak = false;
    for (std::size_t i = 0;; ++i) {
      pump_.PumpEvents();
      const std::string& text = tPieces_.Text();
      const bool atEnd = i >= text.size();
      if (!atEnd && IsLineBreak(text[i])) {
        inBreak = true;
        continue;
      }
      if (inBreak) {
        // [lineStart, i) is a complete line, its line-break run included.
        const auto digit = [&](std::size_t pos) {
          return pos < text.size() ? static_cast<int>(static_cast<unsigned char>(text[pos])) - 48 : -1000;
        };
        const int u = 10 * digit(lineStart + 1) + digit(lineStart + 2);
        if (u >= 1 && u <= kUserSlots) {
          const auto su = static_cast<std::size_t>(u);
          if (seen[su]) {
            std::string edited = text;
            if (seenNext[su] <= edited.size() && seenStart[su] <= seenNext[su]) {
              edited.erase(seenStart[su], seenNext[su] - seenStart[su]);
            }
            tPieces_.SetText(std::move(edited));
            removed = true;
            break;
          }
          seen[su] = true;
          seenStart[su] = lineStart;
          seenNext[su] = i;
        }
        lineStart = i;
        inBreak = false;
      }
      if (atEnd) break;
    }
    if (!removed) break;
  }
  tPieces_.SetCaretToEnd();
}

}  // namespace mc303
