// MC303Parse: the byte-by-byte parser of Roland data-set messages from the MC-303, its
// piece store, the output log OUTFILE.SYX and the report lines of the "MC303" box.
// Fed by the receive loop, the file-list reload and the transmit engine, all on the
// user-interface thread; it reaches the windows only through the roles it is given.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mc303/OutputLogFile.h"
#include "mc303/PieceStore.h"
#include "mc303/SharedFlags.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace mc303 {

enum class MessageOutcome { New, Continued, Duplicate, NoPiece, BadChecksum };

// What became of one completed data-set message, for callers that account for every
// message (the command-line front end).
struct MessageReport {
  MessageOutcome outcome = MessageOutcome::NoPiece;
  std::array<std::int32_t, 4> address{};
  std::int32_t dataCount = 0;          // bytes after the address, checksum included
  std::int32_t receivedChecksum = 0;
  std::int32_t expectedChecksum = 0;
  std::uint64_t startIndex = 0;        // feed index (every byte fed counts) of its 0xF0
  int userNumber = 0;                  // 1-50; 0 when it belongs to no piece
  PieceKind kind = PieceKind::None;
  std::string reportLine;              // the report box line, without its line break
};

class MC303Parse {
 public:
  MC303Parse(SharedFlags& flags, roles::TextBox& tPieces, roles::TextBox& tDev, roles::EventPump& pump,
             roles::Dialogs& dialogs, OutputLogFile& log);
  ~MC303Parse();
  MC303Parse(const MC303Parse&) = delete;
  MC303Parse& operator=(const MC303Parse&) = delete;

  void ResetPieceStore();
  // False when this byte completed a message with a wrong checksum or a duplicate piece;
  // LastOutcome() then tells which.
  [[nodiscard]] bool ParseMidiByte(std::int32_t byte, bool report) {
    // Most bytes of a dump are data inside a message: that case is handled here,
    // inline in the caller's loop; everything else (every status byte) takes the full
    // path.
    if (parse_.State == 10 && byte < 0x80) {
      const bool logging = !outfile_.Suppressed && flags_.RecordingActive;
      if (!logging || (!outfile_.RestartPending && logOpen_ && outfile_.ByteCount < kMaxByteCount &&
                       batchSize_ + 1 < kBatchBytes)) {
        ++bytesFed_;
        if (logging) {
          batch_[batchSize_++] = static_cast<std::uint8_t>(byte);
          ++outfile_.ByteCount;
        }
        store_.PendingBytes.push_back(static_cast<std::uint8_t>(byte));
        parse_.Sum = static_cast<std::int32_t>((static_cast<std::uint32_t>(parse_.Sum) + static_cast<std::uint32_t>(byte)) & 0xFFu);
        ++parse_.DataCount;
        parse_.LastByte = byte;
        return true;
      }
    }
    return ParseMidiByteFull(byte, report);
  }
  void ResetParseState(std::int32_t byte);
  void LogByteToOutfile(std::int32_t byte);
  void ShowDeviceLine(const std::string& line);
  [[nodiscard]] bool IdentifyPiece(std::int32_t deviceId, std::int32_t address0, std::int32_t address1,
                                   std::int32_t address2, std::int32_t address3, ByteString& pending);
  void AddPieceLine(const std::string& line);

  // Ends the output log: what is batched goes to the file, which is then closed. Does
  // nothing when the log is not open. Whoever reads OUTFILE.SYX closes it first.
  void CloseOutfile();
  // Puts batched bytes on disk without closing (the receive loop calls it when idle).
  void FlushOutfile();
  [[nodiscard]] bool OutfileOpen() const { return log_.IsOpen(); }
  OutputLogFile& LogFile() { return log_; }

  PieceStore& Store() { return store_; }
  const PieceStore& Store() const { return store_; }
  ParseState& Parse() { return parse_; }
  const ParseState& Parse() const { return parse_; }
  OutfileLog& Log() { return outfile_; }
  const OutfileLog& Log() const { return outfile_; }
  const DeviceLines& Lines() const { return lines_; }

  // What became of the last message completed since the parser was made.
  MessageOutcome LastOutcome() const { return lastOutcome_; }

  void SetMessageObserver(std::function<void(const MessageReport&)> observer) { observer_ = std::move(observer); }
  // Every byte passed to ParseMidiByte counts, 0xFE and 0xF8 included.
  std::uint64_t BytesFed() const { return bytesFed_; }

 private:
  bool ParseMidiByteFull(std::int32_t byte, bool report);
  void CompleteMessage(bool report, bool& result);
  void ReportIoError();
  void FlushBatch();
  static void FormatGoodReportLine(const ParseState& p, std::string& line);
  static void FormatBadReportLine(const ParseState& p, std::string& line);

  SharedFlags& flags_;
  roles::TextBox& tPieces_;
  roles::TextBox& tDev_;
  roles::EventPump& pump_;
  roles::Dialogs& dialogs_;
  OutputLogFile& log_;

  PieceStore store_;
  ParseState parse_;
  OutfileLog outfile_;
  DeviceLines lines_;

  // Logged bytes wait here until a batch is full or the log is closed, so that a
  // capture costs one write per batch rather than one per byte. They are counted in
  // ByteCount when batched and taken off again if the write fails.
  static constexpr std::size_t kBatchBytes = 64 * 1024;  // twenty seconds of MIDI at wire speed
  static constexpr std::int32_t kMaxByteCount = 2147483647;
  std::unique_ptr<std::uint8_t[]> batch_;
  std::size_t batchSize_ = 0;
  bool logOpen_ = false;  // whether log_ is open, kept here to spare a call per byte

  std::function<void(const MessageReport&)> observer_;
  std::uint64_t bytesFed_ = 0;
  std::uint64_t messageStart_ = 0;
  // Bumped by every reset; lets an identification notice that a handler run from its
  // event pumping rebuilt the store under it.
  std::uint64_t resetGeneration_ = 0;
  MessageReport lastIdentified_;
  MessageOutcome lastOutcome_ = MessageOutcome::NoPiece;
  std::string line_;  // the report line being built, its storage reused
};

}  // namespace mc303
