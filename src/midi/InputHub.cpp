#include "midi/InputHub.h"

#include <algorithm>
#include <cstring>

namespace midi {

void InputHub::Open(PortHandle port, InputCallback callback, std::uintptr_t instance) {
  std::lock_guard lock(mutex_);
  Port& p = ports_[port];
  p.callback = callback;
  p.instance = instance;
}

bool InputHub::IsOpen(PortHandle port) const {
  std::lock_guard lock(mutex_);
  return ports_.count(port) != 0;
}

InputHub::Port* InputHub::Find(PortHandle port) {
  const auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : &it->second;
}

MidiResult InputHub::Prepare(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  if (Find(port) == nullptr) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize || header->lpData == nullptr || header->dwBufferLength == 0) {
    return kErrInvalidParam;
  }
  header->dwFlags |= kMhdrPrepared;
  return kNoError;
}

MidiResult InputHub::AddBuffer(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize) return kErrInvalidParam;
  if ((header->dwFlags & kMhdrPrepared) == 0) return kErrUnprepared;
  // The one rule that keeps two writers out of one buffer, whatever the caller does.
  if ((header->dwFlags & kMhdrInQueue) != 0) return kErrStillPlaying;
  header->dwFlags = (header->dwFlags | kMhdrInQueue) & ~kMhdrDone;
  header->dwBytesRecorded = 0;
  p->queue.push_back(header);
  if (!p->backlog.empty()) wake_();
  return kNoError;
}

MidiResult InputHub::Unprepare(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize) return kErrInvalidParam;
  const auto it = std::find(p->queue.begin(), p->queue.end(), header);
  if (it != p->queue.end()) {
    p->queue.erase(it);
    header->dwFlags &= ~kMhdrInQueue;
  } else if ((header->dwFlags & kMhdrInQueue) != 0) {
    return kErrStillPlaying;  // queued on another port
  }
  header->dwFlags &= ~kMhdrPrepared;
  return kNoError;
}

MidiResult InputHub::Start(PortHandle port) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  p->started = true;
  if (!p->backlog.empty()) wake_();
  return kNoError;
}

MidiResult InputHub::Stop(PortHandle port) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  p->started = false;
  return kNoError;
}

void InputHub::Withdraw(Port& port) {
  for (MidiHdr* h : port.queue) h->dwFlags &= ~kMhdrInQueue;
  port.queue.clear();
  port.backlog.clear();
  port.backlogBytes = 0;
}

MidiResult InputHub::Reset(PortHandle port) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  Withdraw(*p);
  return kNoError;
}

MidiResult InputHub::Close(PortHandle port) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return kErrInvalidHandle;
  Withdraw(*p);
  ports_.erase(port);
  return kNoError;
}

void InputHub::Receive(PortHandle port, const std::uint8_t* bytes, std::size_t count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr || !p->started) return;
  if (p->backlogBytes + count > kMaxBacklogBytes) {
    lostBytes_ += count;
    return;
  }
  Pending pending;
  pending.bytes.assign(bytes, bytes + count);
  pending.sysex = bytes[0] == 0xF0 || count > 3;
  p->backlog.push_back(std::move(pending));
  p->backlogBytes += count;
}

void InputHub::DeliverAll() {
  std::lock_guard lock(mutex_);
  for (auto& [handle, port] : ports_) Deliver(handle, port);
}

void InputHub::Deliver(PortHandle handle, Port& port) {
  while (port.started && !port.backlog.empty()) {
    Pending& next = port.backlog.front();
    if (!next.sysex) {
      std::uint32_t packed = 0;
      for (std::size_t i = 0; i < next.bytes.size(); ++i) packed |= static_cast<std::uint32_t>(next.bytes[i]) << (8 * i);
      port.backlogBytes -= next.bytes.size();
      port.backlog.pop_front();
      port.callback(handle, kMimData, port.instance, packed, 0);
      continue;
    }
    if (port.queue.empty()) return;  // the rest waits, in order, for the next buffer
    MidiHdr* h = port.queue.front();
    const std::size_t room = h->dwBufferLength - h->dwBytesRecorded;
    const std::size_t n = std::min(room, next.bytes.size() - next.offset);
    std::memcpy(h->lpData + h->dwBytesRecorded, next.bytes.data() + next.offset, n);
    h->dwBytesRecorded += static_cast<std::uint32_t>(n);
    next.offset += n;
    const bool messageDone = next.offset == next.bytes.size();
    if (messageDone) {
      port.backlogBytes -= next.bytes.size();
      port.backlog.pop_front();
    }
    if (messageDone || h->dwBytesRecorded == h->dwBufferLength) {
      port.queue.pop_front();
      h->dwFlags = (h->dwFlags & ~kMhdrInQueue) | kMhdrDone;
      port.callback(handle, kMimLongData, port.instance, reinterpret_cast<std::uintptr_t>(h), 0);
    }
  }
}

bool InputHub::BacklogEmpty() const {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, port] : ports_) {
    if (!port.backlog.empty()) return false;
  }
  return true;
}

std::size_t InputHub::QueuedBuffers(PortHandle port) const {
  std::lock_guard lock(mutex_);
  const auto it = ports_.find(port);
  return it == ports_.end() ? 0 : it->second.queue.size();
}

std::uint64_t InputHub::LostBytes() const {
  std::lock_guard lock(mutex_);
  return lostBytes_;
}

}  // namespace midi
