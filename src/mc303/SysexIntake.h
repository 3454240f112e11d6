// SysexIntake: where every SysEx byte the program handles goes in, received, reloaded
// from the listed files or sent: it is logged to OUTFILE.SYX, kept for the pieces and
// parsed, and each message it completes is reported and filed. Fed by the receive loop,
// the file-list reload and the transmit engine, all on the user-interface thread; it
// reaches the windows only through the roles it is given.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "mc303/OutputLog.h"
#include "mc303/PieceStore.h"
#include "mc303/PiecesBox.h"
#include "mc303/ReportBox.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexParser.h"

namespace mc303 {

class SysexIntake {
 public:
  SysexIntake(SharedFlags& flags, roles::TextBox& piecesBox, roles::TextBox& reportBox, roles::EventPump& pump,
              roles::Dialogs& dialogs, OutputLogFile& log);

  void ResetPieceStore();
  // False when this byte completed a message with a wrong checksum or a duplicate piece;
  // LastOutcome() then tells which.
  [[nodiscard]] bool ParseMidiByte(std::int32_t byte, bool report) {
    // Data inside a message, most bytes of a dump, stays here, inline in the caller's loop.
    if (parser_.InData(byte) && log_.AddQuickly(static_cast<std::uint8_t>(byte))) {
      ++bytesFed_;
      store_.PendingBytes.push_back(static_cast<std::uint8_t>(byte));
      parser_.AddData(byte);
      return true;
    }
    return ParseMidiByteFull(byte, report);
  }

  void CloseOutfile() { log_.Close(); }
  void FlushOutfile() { log_.Flush(); }
  OutputLogFile& LogFile() { return log_.File(); }
  PieceStore& Store() { return store_; }
  const PieceStore& Store() const { return store_; }
  const ParseState& Parse() const { return parser_.State(); }
  OutfileLog& Log() { return log_.State(); }
  const OutfileLog& Log() const { return log_.State(); }

  // What became of the last message completed since the intake was made.
  MessageOutcome LastOutcome() const { return lastOutcome_; }
  void SetMessageObserver(std::function<void(const MessageReport&)> observer) { observer_ = std::move(observer); }
  // Every byte passed to ParseMidiByte counts, 0xFE and 0xF8 included.
  std::uint64_t BytesFed() const { return bytesFed_; }

 private:
  bool ParseMidiByteFull(std::int32_t byte, bool report);
  bool Complete(MessageReport& message, bool report);

  SysexParser parser_;
  PieceStore store_;
  OutputLog log_;
  PiecesBox pieces_;
  ReportBox report_;
  std::function<void(const MessageReport&)> observer_;
  std::uint64_t bytesFed_ = 0;
  // Bumped by every reset; lets the filing of a message notice that a handler run from
  // the Pieces box's event pumping reset the store under it: Start (over, during a
  // capture), or while nothing records, Send or a change of the Files box (its reload).
  std::uint64_t resetGeneration_ = 0;
  MessageOutcome lastOutcome_ = MessageOutcome::NoPiece;
  std::string line_;  // the report line being built, its storage reused
};

}  // namespace mc303
