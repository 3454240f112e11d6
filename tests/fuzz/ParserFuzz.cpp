// Fuzz target: the SysEx parser and piece identification fed arbitrary bytes.
//
// Input: an options byte, the event-pump call (1-255, 0 for never) at which a handler
// resets the store in the middle of an identification, a byte that limits how much the
// output log accepts, then the stream itself (repeated past 64 KiB when asked).
//
// Checked after every byte and at the end:
// - every byte other than 0xFE and 0xF8 is in exactly one place, in order: still
//   pending, or moved with the bytes in front of it into the one piece that grew;
// - every completed message, the call's result and the report line agree with an
//   independent reading of the stream (RefReader below);
// - the output log holds the stream less 0xFE and 0xF8, or the part of it the log
//   accepted, with at most three messages about the rest;
// - the Pieces box stays within its maximum, names each slot once and each of its
//   lines tells that slot's pieces; the report box shows the last 14 report lines.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "fakes/CountingPump.h"
#include "fakes/FailingLogFile.h"
#include "fakes/ScriptedDialogs.h"
#include "mc303/SysexParser.h"
#include "ui/TextBox.h"

namespace {

using mc303::MessageOutcome;
using mc303::PieceKind;

constexpr int kPieces = 2 * mc303::kUserSlots;  // pattern pieces 0-49, settings 50-99

enum Option : std::uint8_t {
  kReport = 1,
  kSmallPiecesBox = 2,  // lets the stream reach the box's wrap, which 50 slots never do
  kNotRecording = 4,
  kResetFromPump = 8,
  kLimitedLog = 16,   // the log takes only as many bytes as the third input byte says
  kLogNotCreated = 32,
  // Both bits: the stream repeated past the log's 64 KiB batch, so that the log is
  // written in the middle of it. Such inputs run a hundred times slower than the
  // rest, hence two bits, which mutation leaves set less often.
  kPastOneBatch = 64 | 128,
};

struct Expected {
  MessageOutcome outcome = MessageOutcome::NoPiece;
  std::array<int, 4> address{};
  int dataCount = 0;
  int received = 0;
  int expected = 0;
  std::uint64_t start = 0;
  int piece = -1;  // index as in kPieces; -1 for no piece
  std::string line;
};

// Reads the stream its own way: it keeps the bytes after each 0xF0 and looks at them by
// position, where the parser keeps a state number and a running sum.
class RefReader {
 public:
  std::optional<Expected> Take(std::uint8_t b, std::uint64_t index) {
    if (!collecting_) {
      if (b == 0xF0) Begin(index);
      return std::nullopt;
    }
    msg_.push_back(b);
    const std::size_t k = msg_.size();
    // After 0xF0: Roland, any device id, model 00 03, data set.
    static constexpr int kHeader[5] = {0x41, -1, 0x00, 0x03, 0x12};
    if (k <= 5) {
      if (kHeader[k - 1] >= 0 && b != kHeader[k - 1]) {
        collecting_ = false;
        if (b == 0xF0) Begin(index);  // a 0xF0 that breaks a header starts the next message
      }
      return std::nullopt;
    }
    if (k <= 9) {  // the address: any value, 0xF7 included
      if (k == 9) lastByte_ = 0;
      return std::nullopt;
    }
    if (b != 0xF7) {
      lastByte_ = b;
      return std::nullopt;
    }
    collecting_ = false;
    return Complete();
  }

  void Reset() {
    pattern_.fill(false);
    settings_.fill(false);
    lastPiece_ = -1;
    collecting_ = false;
  }

 private:
  void Begin(std::uint64_t index) {
    collecting_ = true;
    msg_.clear();
    start_ = index;
  }

  Expected Complete() {
    Expected e;
    e.start = start_;
    for (int i = 0; i < 4; ++i) e.address[static_cast<std::size_t>(i)] = msg_[5 + static_cast<std::size_t>(i)];
    const std::size_t bodyEnd = msg_.size() - 1;  // the 0xF7
    e.dataCount = static_cast<int>(bodyEnd - 9);
    e.received = lastByte_;
    // Address + data must make a multiple of 128 with the checksum, the body's last
    // byte; a message with no body has no checksum and always fails.
    long sum = -static_cast<long>(lastByte_);
    for (std::size_t i = 5; i < bodyEnd; ++i) sum += msg_[i];
    const long rest = ((sum % 128) + 128) % 128;
    e.expected = static_cast<int>((128 - rest) % 128);
    char text[64];
    const auto& a = e.address;
    if (e.dataCount == 0 || e.expected != e.received) {
      e.outcome = MessageOutcome::BadChecksum;
      std::snprintf(text, sizeof text, "%02X%02X%X%X BAD CKS (WAS %02X, EXPECTED %02X)!", a[0], a[1], a[2], a[3],
                    e.received, e.expected);
      e.line = text;
      return e;
    }
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X %d BYTES.", a[0], a[1], a[2], a[3], e.dataCount);
    e.line = text;
    if (a[0] >= 0x40 && a[0] <= 0x71) {
      e.piece = a[0] - 0x40;
    } else if (a[0] == 0x14 && a[1] <= 0x31) {
      e.piece = 50 + a[1];
    } else {
      return e;
    }
    bool& present = e.piece < 50 ? pattern_[static_cast<std::size_t>(e.piece)]
                                  : settings_[static_cast<std::size_t>(e.piece - 50)];
    if (!present) {
      e.outcome = MessageOutcome::New;
      lastPiece_ = e.piece;
    } else {
      e.outcome = lastPiece_ == e.piece ? MessageOutcome::Continued : MessageOutcome::Duplicate;
    }
    present = true;
    return e;
  }

  bool collecting_ = false;
  std::vector<std::uint8_t> msg_;
  std::uint64_t start_ = 0;
  int lastByte_ = 0;
  std::array<bool, 50> pattern_{};
  std::array<bool, 50> settings_{};
  int lastPiece_ = -1;
};

const mc303::ByteString& Piece(const mc303::PieceStore& store, int piece) {
  return piece < 50 ? store.PatternData[static_cast<std::size_t>(piece)]
                    : store.SettingsData[static_cast<std::size_t>(piece - 50)];
}

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// The Pieces box: within its maximum, each user number on one line at most, and every
// well-formed line telling what the store holds for its slot. With the full-size box
// (which never wraps) every slot seen has its line and no other text is there.
void CheckPiecesBox(const ui::TextBox& box, const mc303::PieceStore& store, bool fullSize) {
  const std::string& t = box.Text();
  FUZZ_CHECK(t.size() <= static_cast<std::size_t>(box.MaxLength()), "Pieces box over its maximum");
  std::array<bool, 51> seen{};
  std::size_t i = 0;
  while (i < t.size()) {
    const std::size_t start = i;
    while (i < t.size() && !IsBreak(t[i])) ++i;
    const std::size_t contentEnd = i;
    while (i < t.size() && IsBreak(t[i])) ++i;
    if (contentEnd == i) break;  // a final line without a break is not a line
    const std::string content = t.substr(start, contentEnd - start);
    const std::string run = t.substr(contentEnd, i - contentEnd);
    if (content.size() >= 3) {
      const int u = 10 * (static_cast<unsigned char>(content[1]) - 48) + (static_cast<unsigned char>(content[2]) - 48);
      if (u >= 1 && u <= 50) {
        FUZZ_CHECK(!seen[static_cast<std::size_t>(u)], "a user number on two lines of the Pieces box");
        seen[static_cast<std::size_t>(u)] = true;
      }
    }
    const bool wellFormed = content.size() >= 3 && content[0] == 'U' && content[1] >= '0' && content[1] <= '5' &&
                            content[2] >= '0' && content[2] <= '9' && run == "\r\n";
    if (!wellFormed) {
      FUZZ_CHECK(!fullSize, "text other than piece lines in the Pieces box");
      continue;
    }
    const int u = 10 * (content[1] - '0') + (content[2] - '0');
    FUZZ_CHECK(u >= 1 && u <= 50, "a piece line for no user slot");
    const auto s = static_cast<std::size_t>(u - 1);
    const std::string rest = content.substr(3);
    const bool p = store.PatternPresent[s];
    const bool st = store.SettingsPresent[s];
    const char* want = p && st ? "" : p ? " Missing Settings" : st ? " Settings Only" : nullptr;
    FUZZ_CHECK(want != nullptr, "a piece line for a slot with no pieces");
    FUZZ_CHECK(rest == want, "a piece line that does not tell its slot's pieces");
  }
  if (!fullSize) return;
  for (std::size_t s = 0; s < 50; ++s) {
    if (store.PatternPresent[s] || store.SettingsPresent[s]) FUZZ_CHECK(seen[s + 1], "a slot seen but not listed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t options = data[0];
  const bool report = (options & kReport) != 0;
  const bool recording = (options & kNotRecording) == 0;
  const unsigned resetAtPump = (options & kResetFromPump) != 0 ? data[1] : 0;
  std::vector<std::uint8_t> stream(data + 3, data + size);
  if ((options & kPastOneBatch) == kPastOneBatch && !stream.empty()) {
    const std::size_t once = stream.size();
    while (stream.size() < 66000) stream.insert(stream.end(), stream.begin(), stream.begin() + static_cast<long>(once));
  }
  const std::size_t streamSize = stream.size();

  mc303::SharedFlags flags;
  ui::TextBox tPieces((options & kSmallPiecesBox) != 0 ? 64 : 16384);
  ui::TextBox tDev(1024);
  CountingPump pump;
  ScriptedDialogs dialogs;
  FailingLogFile log;
  if ((options & kLimitedLog) != 0) log.capacity = data[2];
  const bool createFails = (options & kLogNotCreated) != 0 && resetAtPump == 0;
  mc303::MC303Parse parse(flags, tPieces, tDev, pump, dialogs, log);

  std::vector<mc303::MessageReport> reports;
  parse.SetMessageObserver([&](const mc303::MessageReport& r) { reports.push_back(r); });
  bool resetHappened = false;
  pump.onPump = [&] {
    if (pump.calls == static_cast<long>(resetAtPump)) {
      parse.ResetPieceStore();
      resetHappened = true;
    }
  };

  flags.RecordingActive = true;
  parse.ResetPieceStore();
  flags.RecordingActive = recording;
  if (createFails) log.failCreates = 2;  // the first creation and its retry

  RefReader ref;
  std::vector<std::uint8_t> pending;  // what PendingBytes must hold
  std::array<mc303::ByteString, kPieces> pieces;
  std::vector<std::uint8_t> logged;  // what the log must hold since its last start
  std::deque<std::string> devLines;  // report lines since the last reset
  std::string devText;               // what the report box must show

  const mc303::PieceStore& store = parse.Store();
  for (std::size_t index = 0; index < streamSize; ++index) {
    const std::uint8_t b = stream[index];
    reports.clear();
    resetHappened = false;
    const bool result = parse.ParseMidiByte(b, report);

    if (b == 0xFE || b == 0xF8) {
      FUZZ_CHECK(result && reports.empty(), "a real-time byte acted on");
      FUZZ_CHECK(store.PendingBytes.size() == pending.size(), "a real-time byte kept");
      continue;
    }
    pending.push_back(b);
    if (recording) logged.push_back(b);
    const std::optional<Expected> e = ref.Take(b, index);

    FUZZ_CHECK(reports.size() == (e ? 1u : 0u), "a message completed where the stream has none, or missed");
    if (e) {
      const mc303::MessageReport& r = reports.front();
      FUZZ_CHECK(r.outcome == e->outcome, "wrong outcome of a message");
      for (std::size_t i = 0; i < 4; ++i) FUZZ_CHECK(r.address[i] == e->address[i], "wrong address");
      FUZZ_CHECK(r.dataCount == e->dataCount, "wrong data count");
      FUZZ_CHECK(r.receivedChecksum == e->received && r.expectedChecksum == e->expected, "wrong checksum");
      FUZZ_CHECK(r.startIndex == e->start, "wrong start of a message");
      FUZZ_CHECK(r.reportLine == e->line, "wrong report line");
      if (report && recording) {
        devLines.push_back(e->line + "\r\n");
        if (devLines.size() > 14) devLines.pop_front();
        devText.clear();
        for (const std::string& l : devLines) devText += l;
      }
    }
    const bool expectFalse = e && (e->outcome == MessageOutcome::BadChecksum || e->outcome == MessageOutcome::Duplicate);
    FUZZ_CHECK(result != expectFalse, "wrong result of ParseMidiByte");

    if (resetHappened) {
      // The reset took the store, the message under way with it, and the log restarts
      // at the next logged byte.
      ref.Reset();
      pending.clear();
      for (auto& p : pieces) p.clear();
      logged.clear();
      devLines.clear();
      FUZZ_CHECK(store.PendingBytes.empty(), "pending bytes survived a reset");
      for (int k = 0; k < kPieces; ++k) FUZZ_CHECK(Piece(store, k).empty(), "a piece survived a reset");
      continue;
    }

    if (e && e->piece >= 0) {
      // The message and every byte in front of it went into its piece, and only there.
      FUZZ_CHECK(store.PendingBytes.empty(), "pending bytes left after an identified message");
      auto& shadow = pieces[static_cast<std::size_t>(e->piece)];
      shadow.insert(shadow.end(), pending.begin(), pending.end());
      pending.clear();
    } else {
      FUZZ_CHECK(store.PendingBytes.size() == pending.size() && store.PendingBytes.back() == b,
                 "a byte not kept pending");
    }
    // Pieces change only when a message completes; the end compares them whole.
    if (e) {
      for (int k = 0; k < kPieces; ++k) {
        FUZZ_CHECK(Piece(store, k).size() == pieces[static_cast<std::size_t>(k)].size(), "a piece changed size");
      }
    }
  }

  FUZZ_CHECK(store.PendingBytes == pending, "pending bytes differ");
  for (int k = 0; k < kPieces; ++k) FUZZ_CHECK(Piece(store, k) == pieces[static_cast<std::size_t>(k)], "a piece differs");
  FUZZ_CHECK(store.PatternData[50].empty() && store.SettingsData[50].empty(), "data in the unused slot");

  parse.CloseOutfile();
  std::size_t ioMessages = 0;
  for (const auto& m : dialogs.messages) {
    FUZZ_CHECK(m.text == "I/O Error accessing /prog/OUTFILE.SYX", "an unexpected message");
    ++ioMessages;
  }
  if (!recording) {
    FUZZ_CHECK(log.creates == 0 && log.bytes.empty(), "logged while not recording");
    FUZZ_CHECK(ioMessages == 0, "a message while not recording");
  } else if (createFails) {
    FUZZ_CHECK(log.bytes.empty() && parse.Log().ByteCount == 0, "bytes counted in a log never created");
    FUZZ_CHECK(ioMessages == std::min<std::size_t>(3, logged.size()), "not told of the log that was not created");
  } else if (!parse.Log().RestartPending) {
    const std::size_t kept = std::min(log.capacity, logged.size());
    FUZZ_CHECK(log.bytes.size() == kept &&
                   std::equal(log.bytes.begin(), log.bytes.end(), logged.begin()),
               "the output log differs from the stream");
    FUZZ_CHECK(parse.Log().ByteCount == static_cast<std::int32_t>(kept), "ByteCount differs from the log");
    FUZZ_CHECK(ioMessages == std::min<std::size_t>(3, logged.size() - kept), "lost log bytes not told");
  }

  CheckPiecesBox(tPieces, store, (options & kSmallPiecesBox) == 0);
  FUZZ_CHECK(tDev.Length() <= 1024, "report box over its maximum");
  FUZZ_CHECK(tDev.Text() == devText, "the report box does not show the last report lines");
  return 0;
}
