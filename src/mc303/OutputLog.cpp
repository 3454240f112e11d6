#include "mc303/OutputLog.h"

#include <algorithm>

namespace mc303 {

void OutputLog::Add(std::uint8_t byte) {
  // The common case first: the log is running and the batch and the count have room.
  if (AddQuickly(byte)) return;
  if (state_.RestartPending) {
    state_.ByteCount = 0;
    state_.RestartPending = false;
    // A log still open from the recording that the reset ended is dropped, not
    // flushed: its file is deleted right here, and on some systems an open file
    // cannot be deleted at all.
    batchSize_ = 0;
    file_.Close();
    file_.Delete();
    if (!file_.Create()) (void)file_.Create();
    open_ = file_.IsOpen();
  }
  if (!open_) {
    ReportIoError();
    return;
  }
  batch_[batchSize_++] = byte;
  if (state_.ByteCount == kMaxByteCount) {
    dialogs_.MessageBox("Wow that's a lot of bytes.");
    state_.ByteCount = 0;
  } else {
    ++state_.ByteCount;
  }
  if (batchSize_ >= kBatchBytes) FlushBatch();
}

void OutputLog::FlushBatch() {
  if (batchSize_ == 0) return;
  const std::size_t written = file_.Write(batch_.get(), batchSize_);
  const std::size_t failed = batchSize_ - std::min(written, batchSize_);
  batchSize_ = 0;
  if (failed == 0) return;
  // Each byte that did not reach the file is one failed write: not counted, and
  // reported until the limit of messages is reached.
  state_.ByteCount = static_cast<std::int32_t>(
      std::max<std::int64_t>(0, static_cast<std::int64_t>(state_.ByteCount) - static_cast<std::int64_t>(failed)));
  for (std::size_t i = 0; i < failed && state_.ErrorCount < 3; ++i) ReportIoError();
}

void OutputLog::ReportIoError() {
  if (state_.ErrorCount >= 3) return;
  ++state_.ErrorCount;
  dialogs_.MessageBox("I/O Error accessing " + file_.Location());
}

void OutputLog::Close() {
  if (file_.IsOpen()) {
    FlushBatch();
    file_.Close();
  }
  batchSize_ = 0;
  open_ = false;
}

}  // namespace mc303
