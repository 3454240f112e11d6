#include "mc303/SysexIntake.h"

namespace mc303 {

SysexIntake::SysexIntake(SharedFlags& flags, roles::TextBox& piecesBox, roles::TextBox& reportBox, roles::EventPump& pump,
                         roles::Dialogs& dialogs, OutputLogFile& log)
    : log_(flags, dialogs, log), pieces_(piecesBox, pump), report_(flags, reportBox) {}

void SysexIntake::ResetPieceStore() {
  pieces_.Clear();
  store_.Reset();
  parser_.EndMessage();
  report_.Restart();
  log_.Restart();
  ++resetGeneration_;
}

bool SysexIntake::ParseMidiByteFull(std::int32_t byte, bool report) {
  const std::uint64_t index = bytesFed_++;
  if (SysexParser::Ignores(byte)) return true;
  log_.Add(static_cast<std::uint8_t>(byte));
  store_.PendingBytes.push_back(static_cast<std::uint8_t>(byte));
  std::optional<MessageReport> message = parser_.Feed(byte, index);
  return !message || Complete(*message, report);
}

bool SysexIntake::Complete(MessageReport& message, bool report) {
  if (report || observer_) SysexParser::FormatReportLine(message, line_);
  if (report) {
    line_ += "\r\n";
    report_.Show(line_);
    line_.resize(line_.size() - 2);
  }
  if (observer_) message.reportLine = line_;
  if (message.outcome != MessageOutcome::BadChecksum) {
    const PieceStore::Filing filing = store_.Begin(message.address[0], message.address[1]);
    message.outcome = filing.outcome;
    const std::uint64_t generation = resetGeneration_;
    if (filing.outcome != MessageOutcome::NoPiece) {
      message.userNumber = filing.slotIndex + 1;
      message.kind = filing.kind;
      if (filing.outcome == MessageOutcome::New) pieces_.Add(filing);
      // A reset run from the pumping above took this message's bytes with it; marking
      // the piece present would file an empty piece that a later save would write out.
      if (generation == resetGeneration_) store_.Keep(filing);
    }
  }
  parser_.EndMessage();
  lastOutcome_ = message.outcome;
  if (observer_) observer_(message);
  return message.outcome != MessageOutcome::BadChecksum && message.outcome != MessageOutcome::Duplicate;
}

}  // namespace mc303
