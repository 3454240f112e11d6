// Fuzz target: the SysEx parser and piece identification fed arbitrary bytes.
//
// Input: options, the event-pump call (1-255, 0 never) at which a handler resets the
// store mid-identification, how many bytes the output log accepts, then the stream.
// Checked: every byte but 0xFE/0xF8 is in exactly one piece (the one its message's
// address names) or pending, in order; a message holds no status byte but its 0xF0 and
// 0xF7 (any other ends it), while real-time bytes act on nothing; the result agrees
// with the outcome; the log is
// the stream less 0xFE/0xF8, or its accepted part with at most three messages; the
// Pieces box stays within its maximum.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "FuzzCheck.h"
#include "fakes/CountingPump.h"
#include "fakes/FailingLogFile.h"
#include "fakes/ScriptedDialogs.h"
#include "mc303/SysexIntake.h"
#include "roles/TextBox.h"

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

// Pattern pieces 0-49 at a0 = 0x40-0x71, settings 50-99 at 0x14 and a1 = 0-0x31.
int PieceOf(const std::array<std::int32_t, 4>& a) {
  if (a[0] >= 0x40 && a[0] <= 0x71) return a[0] - 0x40;
  if (a[0] == 0x14 && a[1] <= 0x31) return 50 + a[1];
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t options = data[0];
  const bool recording = (options & kNotRecording) == 0;
  const unsigned resetAtPump = (options & kResetFromPump) != 0 ? data[1] : 0;
  mc303::ByteString stream(data + 3, data + size);
  if ((options & kPastOneBatch) == kPastOneBatch && !stream.empty()) {
    const auto once = static_cast<long>(stream.size());
    while (stream.size() < 66000) stream.insert(stream.end(), stream.begin(), stream.begin() + once);
  }

  mc303::SharedFlags flags;
  roles::TextBox piecesBox((options & kSmallPiecesBox) != 0 ? 64 : 16384);
  roles::TextBox reportBox(1024);
  CountingPump pump;
  ScriptedDialogs dialogs;
  FailingLogFile log;
  if ((options & kLimitedLog) != 0) log.capacity = data[2];
  mc303::SysexIntake parse(flags, piecesBox, reportBox, pump, dialogs, log);
  std::optional<mc303::MessageReport> report;
  parse.SetMessageObserver([&](const mc303::MessageReport& r) { report = r; });
  bool resetHappened = false;
  pump.onPump = [&] {
    if (pump.calls != static_cast<long>(resetAtPump)) return;
    parse.ResetPieceStore();
    resetHappened = true;
  };
  flags.RecordingActive = true;
  parse.ResetPieceStore();
  flags.RecordingActive = recording;

  mc303::ByteString pending, logged;                     // what PendingBytes and the log must hold
  std::array<mc303::ByteString, 51> patterns, settings;  // what the pieces must hold
  const mc303::PieceStore& store = parse.Store();
  std::uint64_t index = 0;
  std::uint64_t lastStatus = ~std::uint64_t{0};  // where the last status byte that is not real-time stood
  for (const std::uint8_t b : stream) {
    report.reset();
    resetHappened = false;
    const std::int32_t stateBefore = parse.Parse().State;
    const bool result = parse.ParseMidiByte(b, (options & kReport) != 0);
    const std::uint64_t at = index++;
    if (b == 0xFE || b == 0xF8) {
      FUZZ_CHECK(result && !report && store.PendingBytes.size() == pending.size(), "a real-time byte acted on");
      continue;
    }
    if (b > 0xF8) FUZZ_CHECK(result && !report && parse.Parse().State == stateBefore, "a real-time byte parsed");
    FUZZ_CHECK(!report || lastStatus == report->startIndex, "a message went on past a status byte");
    if (b >= 0x80 && b <= 0xF7) lastStatus = at;
    pending.push_back(b);
    if (recording) logged.push_back(b);
    const bool refused =
        report && (report->outcome == MessageOutcome::BadChecksum || report->outcome == MessageOutcome::Duplicate);
    FUZZ_CHECK(result != refused, "wrong result of ParseMidiByte");
    const int piece = report && report->outcome != MessageOutcome::BadChecksum ? PieceOf(report->address) : -1;
    FUZZ_CHECK(!report || (piece >= 0) == (report->outcome != MessageOutcome::NoPiece &&
                                           report->outcome != MessageOutcome::BadChecksum),
               "a message filed to no piece, or a piece's message not filed");
    if (resetHappened) {  // the store and the message went; the log restarts at the next byte
      pending.clear();
      patterns = settings = {};
      logged.clear();
      FUZZ_CHECK(store.PendingBytes.empty() && store.PatternData == patterns && store.SettingsData == settings,
                 "a piece or pending bytes survived a reset");
    } else if (piece >= 0) {
      FUZZ_CHECK(store.PendingBytes.empty(), "pending bytes left after an identified message");
      auto& shadow = piece < 50 ? patterns[static_cast<std::size_t>(piece)] : settings[static_cast<std::size_t>(piece - 50)];
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
  for (const auto& m : dialogs.messages) FUZZ_CHECK(m.text == "I/O Error accessing /prog/OUTFILE.SYX", "a message");
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
  FUZZ_CHECK(piecesBox.Length() <= piecesBox.MaxLength(), "Pieces box over its maximum");
  return 0;
}
