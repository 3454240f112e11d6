// Fuzz target: the SysEx parser and piece identification fed arbitrary bytes.
//
// Input: an options byte, the event-pump call (1-255, 0 for never) at which a handler
// resets the store in the middle of an identification, a byte that limits how much the
// output log accepts, then the stream (repeated past 64 KiB when asked). Checked: every
// byte other than 0xFE and 0xF8 is in exactly one place, in order; every completed
// message and the call's result agree with an independent reading of the stream; the
// log holds the stream less 0xFE and 0xF8, or the part it accepted with at most three
// messages about the rest.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
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

enum Option : std::uint8_t {
  kReport = 1,
  kSmallPiecesBox = 2,  // lets the stream reach the box's wrap, which 50 slots never do
  kNotRecording = 4,
  kResetFromPump = 8,
  kLimitedLog = 16,  // the log takes only as many bytes as the third input byte says
  // Repeated past the log's 64 KiB batch; a hundred times slower, so two bits.
  kPastOneBatch = 64 | 128,
};

struct Expected {
  MessageOutcome outcome = MessageOutcome::NoPiece;
  std::array<int, 4> address{};
  int dataCount = 0, received = 0, expected = 0;
  std::uint64_t start = 0;
  int piece = -1;  // pattern pieces 0-49, settings 50-99; -1 for none
  std::string line;
};

// Reads the stream its own way: it keeps the bytes after each 0xF0 and looks at them by
// position, where the parser keeps a state number and a running sum.
class RefReader {
 public:
  std::optional<Expected> Take(std::uint8_t b, std::uint64_t index) {
    static constexpr int kHeader[5] = {0x41, -1, 0x00, 0x03, 0x12};  // after 0xF0; any device id
    if (collecting_) msg_.push_back(b);
    const std::size_t k = msg_.size();
    if (collecting_ && k <= 5 && kHeader[k - 1] >= 0 && b != kHeader[k - 1]) collecting_ = false;
    if (!collecting_) {
      if (b == 0xF0) {  // a message begins, also where it breaks a header
        collecting_ = true;
        msg_.clear();
        start_ = index;
      }
      return std::nullopt;
    }
    if (k <= 9 || b != 0xF7) return std::nullopt;  // header, address (0xF7 included), data
    collecting_ = false;
    return Complete();
  }

 private:
  // msg_: 41 dev 00 03 12, four address bytes, data with the checksum last, F7.
  Expected Complete() {
    Expected e;
    e.start = start_;
    for (std::size_t i = 0; i < 4; ++i) e.address[i] = msg_[5 + i];
    e.dataCount = static_cast<int>(msg_.size() - 10);
    // With nothing after the address there is no checksum, and the message fails.
    e.received = e.dataCount > 0 ? msg_[msg_.size() - 2] : 0;
    long sum = -e.received;
    for (std::size_t i = 5; i + 1 < msg_.size(); ++i) sum += msg_[i];
    e.expected = static_cast<int>((128 - sum % 128) % 128);
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
    if (a[0] >= 0x40 && a[0] <= 0x71) e.piece = a[0] - 0x40;
    else if (a[0] == 0x14 && a[1] <= 0x31) e.piece = 50 + a[1];
    else return e;
    bool& present = present_[static_cast<std::size_t>(e.piece)];
    e.outcome = !present ? MessageOutcome::New
                : lastPiece_ == e.piece ? MessageOutcome::Continued : MessageOutcome::Duplicate;
    if (!present) lastPiece_ = e.piece;
    present = true;
    return e;
  }

  bool collecting_ = false;
  std::vector<std::uint8_t> msg_;
  std::uint64_t start_ = 0;
  std::array<bool, 100> present_{};
  int lastPiece_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t options = data[0];
  const bool report = (options & kReport) != 0;
  const bool recording = (options & kNotRecording) == 0;
  const unsigned resetAtPump = (options & kResetFromPump) != 0 ? data[1] : 0;
  std::vector<std::uint8_t> stream(data + 3, data + size);
  if ((options & kPastOneBatch) == kPastOneBatch && !stream.empty()) {
    const auto once = static_cast<long>(stream.size());
    while (stream.size() < 66000) stream.insert(stream.end(), stream.begin(), stream.begin() + once);
  }

  mc303::SharedFlags flags;
  ui::TextBox tPieces((options & kSmallPiecesBox) != 0 ? 64 : 16384);
  ui::TextBox tDev(1024);
  CountingPump pump;
  ScriptedDialogs dialogs;
  FailingLogFile log;
  if ((options & kLimitedLog) != 0) log.capacity = data[2];
  mc303::MC303Parse parse(flags, tPieces, tDev, pump, dialogs, log);
  std::vector<mc303::MessageReport> reports;
  parse.SetMessageObserver([&](const mc303::MessageReport& r) { reports.push_back(r); });
  bool resetHappened = false;
  pump.onPump = [&] {
    if (pump.calls != static_cast<long>(resetAtPump)) return;
    parse.ResetPieceStore();
    resetHappened = true;
  };
  flags.RecordingActive = true;
  parse.ResetPieceStore();
  flags.RecordingActive = recording;

  RefReader ref;
  std::vector<std::uint8_t> pending;  // what PendingBytes must hold
  std::array<mc303::ByteString, 51> patterns, settings;  // what the pieces must hold
  std::vector<std::uint8_t> logged;  // what the log must hold since its last start
  const mc303::PieceStore& store = parse.Store();
  for (std::size_t index = 0; index < stream.size(); ++index) {
    const std::uint8_t b = stream[index];
    reports.clear();
    resetHappened = false;
    const bool result = parse.ParseMidiByte(b, report);
    if (b == 0xFE || b == 0xF8) {
      FUZZ_CHECK(result && reports.empty() && store.PendingBytes.size() == pending.size(), "a real-time byte acted on");
      continue;
    }
    pending.push_back(b);
    if (recording) logged.push_back(b);
    const std::optional<Expected> e = ref.Take(b, index);
    FUZZ_CHECK(reports.size() == (e ? 1u : 0u), "a message completed where the stream has none, or missed");
    if (e) {
      const mc303::MessageReport& r = reports.front();
      FUZZ_CHECK(r.outcome == e->outcome && r.address == e->address && r.dataCount == e->dataCount &&
                     r.receivedChecksum == e->received && r.expectedChecksum == e->expected &&
                     r.startIndex == e->start && r.reportLine == e->line,
                 "a message read otherwise than by position");
    }
    const bool refused = e && (e->outcome == MessageOutcome::BadChecksum || e->outcome == MessageOutcome::Duplicate);
    FUZZ_CHECK(result != refused, "wrong result of ParseMidiByte");

    if (resetHappened) {
      // The reset took the store and the message under way; the log restarts at the
      // next logged byte.
      ref = RefReader();
      pending.clear();
      patterns = settings = {};
      logged.clear();
      FUZZ_CHECK(store.PendingBytes.empty() && store.PatternData == patterns && store.SettingsData == settings,
                 "a piece or pending bytes survived a reset");
    } else if (e && e->piece >= 0) {
      FUZZ_CHECK(store.PendingBytes.empty(), "pending bytes left after an identified message");
      const auto piece = static_cast<std::size_t>(e->piece);
      auto& shadow = piece < 50 ? patterns[piece] : settings[piece - 50];
      shadow.insert(shadow.end(), pending.begin(), pending.end());
      pending.clear();
    } else {
      FUZZ_CHECK(store.PendingBytes.size() == pending.size() && store.PendingBytes.back() == b,
                 "a byte not kept pending");
    }
  }
  FUZZ_CHECK(store.PendingBytes == pending, "pending bytes differ");
  FUZZ_CHECK(store.PatternData == patterns && store.SettingsData == settings,
             "a piece differs, or the unused slot holds data");

  parse.CloseOutfile();
  for (const auto& m : dialogs.messages) {
    FUZZ_CHECK(m.text == "I/O Error accessing /prog/OUTFILE.SYX", "an unexpected message");
  }
  const std::size_t ioMessages = dialogs.messages.size();
  if (!recording) {
    FUZZ_CHECK(log.creates == 0 && log.bytes.empty() && ioMessages == 0, "logged or told while not recording");
  } else if (!parse.Log().RestartPending) {
    const std::size_t kept = std::min(log.capacity, logged.size());
    FUZZ_CHECK(log.bytes.size() == kept && std::equal(log.bytes.begin(), log.bytes.end(), logged.begin()),
               "the output log differs from the stream");
    FUZZ_CHECK(parse.Log().ByteCount == static_cast<std::int32_t>(kept), "ByteCount differs from the log");
    FUZZ_CHECK(ioMessages == std::min<std::size_t>(3, logged.size() - kept), "lost log bytes not told");
  }
  FUZZ_CHECK(tPieces.Length() <= tPieces.MaxLength(), "Pieces box over its maximum");
  return 0;
}
