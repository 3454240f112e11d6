// OutputLog: OUTFILE.SYX as a capture or a reload writes it, every byte fed while a
// recording runs and the transmit engine has not suppressed it. Owned by SysexIntake;
// the capture's Stop and Save and the reload's end flush or close it.
#pragma once

#include <cstdint>
#include <memory>

#include "mc303/OutputLogFile.h"
#include "mc303/SharedFlags.h"
#include "roles/Dialogs.h"

namespace mc303 {

struct OutfileLog {
  std::int32_t ByteCount = 0;   // bytes in the log since it was last started
  bool RestartPending = false;  // the next logged byte starts the log anew
  bool Suppressed = false;      // the transmit engine logs nothing
  std::int32_t ErrorCount = 0;  // I/O error messages shown since the last reset, at most 3
};

class OutputLog {
 public:
  OutputLog(const SharedFlags& flags, roles::Dialogs& dialogs, OutputLogFile& file)
      : flags_(flags), dialogs_(dialogs), file_(file) {}
  ~OutputLog() { Close(); }

  // Logs the byte, or leaves it unlogged when no recording wants it, as long as that is
  // no more than a store into the batch; false leaves the byte to Add.
  [[nodiscard]] bool AddQuickly(std::uint8_t byte) {
    if (state_.Suppressed || !flags_.RecordingActive) return true;
    if (state_.RestartPending || !open_ || state_.ByteCount >= kMaxByteCount || batchSize_ + 1 >= kBatchBytes) {
      return false;
    }
    batch_[batchSize_++] = byte;
    ++state_.ByteCount;
    return true;
  }
  void Add(std::uint8_t byte);
  // The next logged byte starts the file anew, with three I/O error messages to spare.
  void Restart() {
    state_.ErrorCount = 0;
    state_.RestartPending = true;
  }
  // Ends the log: what is batched goes to the file, which is then closed. Does nothing
  // when the log is not open. Whoever reads OUTFILE.SYX closes it first.
  void Close();
  // Puts batched bytes on disk without closing (the receive loop calls it when idle).
  void Flush() {
    if (file_.IsOpen()) FlushBatch();
  }
  OutfileLog& State() { return state_; }
  const OutfileLog& State() const { return state_; }
  OutputLogFile& File() { return file_; }

 private:
  void FlushBatch();
  void ReportIoError();

  const SharedFlags& flags_;
  roles::Dialogs& dialogs_;
  OutputLogFile& file_;
  OutfileLog state_;
  // Logged bytes wait here until a batch is full or the log is closed, so that a
  // capture costs one write per batch rather than one per byte. They are counted in
  // ByteCount when batched and taken off again if the write fails.
  static constexpr std::size_t kBatchBytes = 64 * 1024;  // twenty seconds of MIDI at wire speed
  static constexpr std::int32_t kMaxByteCount = 2147483647;
  std::unique_ptr<std::uint8_t[]> batch_ = std::make_unique<std::uint8_t[]>(kBatchBytes);
  std::size_t batchSize_ = 0;
  bool open_ = false;  // whether file_ is open, kept here to spare a call per byte
};

}  // namespace mc303
