#include "midi/PacedOutput.h"

#include <algorithm>
#include <utility>

namespace midi {

PacedOutput::PacedOutput(Sink sink, std::chrono::nanoseconds wireTimePerByte)
    : sink_(std::move(sink)), perByte_(wireTimePerByte), sender_([this] { Run(); }) {}

PacedOutput::~PacedOutput() { (void)Finish(std::chrono::hours(24 * 365)); }

void PacedOutput::Send(const std::uint8_t* data, std::size_t size) {
  {
    std::lock_guard lock(mutex_);
    queue_.emplace_back(data, data + size);
    queuedBytes_ += size;
    drainedAt_ = std::max(drainedAt_, Clock::now()) + Wire(size);
  }
  wake_.notify_one();
}

bool PacedOutput::TakeFailure() {
  std::lock_guard lock(mutex_);
  return std::exchange(failed_, false);
}

std::uint64_t PacedOutput::LostBytes() const {
  std::lock_guard lock(mutex_);
  return lostBytes_;
}

std::chrono::nanoseconds PacedOutput::DrainTime() const {
  std::lock_guard lock(mutex_);
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(drainedAt_ - Clock::now());
  return std::max(left, std::chrono::nanoseconds(0));
}

bool PacedOutput::Finish(std::chrono::milliseconds grace) {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  const auto deadline = Clock::now() + grace + Wire(queuedBytes_);
  if (!idle_.wait_until(lock, deadline, [this] { return ended_; })) {
    lostBytes_ += queuedBytes_;
    queuedBytes_ = 0;
    queue_.clear();
    failed_ = true;
    return false;
  }
  lock.unlock();
  if (sender_.joinable()) sender_.join();
  return true;
}

void PacedOutput::Run() {
  auto lineFree = Clock::now();
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) break;
    const std::vector<std::uint8_t> message = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();

    // Each message goes when the line has carried the one before it; a late wake-up
    // moves the line on, so no message follows a late one too closely.
    if (lineFree > Clock::now()) std::this_thread::sleep_until(lineFree);
    const auto start = std::max(Clock::now(), lineFree);
    lineFree = start + Wire(message.size());
    const std::size_t lost = message.empty() || sink_(message.data(), message.size()) ? 0 : message.size();

    lock.lock();
    queuedBytes_ -= std::min(queuedBytes_, message.size());
    if (lost > 0) {
      lostBytes_ += lost;
      failed_ = true;
    }
  }
  ended_ = true;
  idle_.notify_all();
}

}  // namespace midi
