// A lock-free ring of bytes between one producer and one consumer thread, for the MIDI
// systems' threads, which may not lock or allocate. Bytes are stored before write_ is
// published (release) and read only after it was seen to move (acquire); positions
// count up for ever. A write that does not fit stores nothing: no half events.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <chrono>
#include <memory>

#include "platform/WordWait.h"

namespace midi {

// An input port's ring: a quarter of an hour of MIDI at wire speed, so none is lost.
inline constexpr std::size_t kInputRingBytes = 4u << 20;

class ByteRing {
 public:
  // At least `capacity` bytes, not touched until used: an idle ring costs next to nothing.
  explicit ByteRing(std::size_t capacity)
      : size_(std::bit_ceil(capacity < 64 ? 64 : capacity)), bytes_(new std::uint8_t[size_]) {}

  // Producer: head then data, both or nothing.
  bool Write(const void* head, std::size_t headSize, const std::uint8_t* data, std::size_t size) {
    const std::size_t w = write_.load(std::memory_order_relaxed);
    if (headSize + size > size_ - (w - read_.load(std::memory_order_acquire))) return false;
    Copy(w, static_cast<const std::uint8_t*>(head), headSize);
    Copy(w + headSize, data, size);
    write_.store(w + headSize + size, std::memory_order_release);
    return true;
  }

  // Consumer.
  std::size_t Readable() const { return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed); }
  std::uint8_t At(std::size_t i) const { return bytes_[(read_.load(std::memory_order_relaxed) + i) & (size_ - 1)]; }
  void Read(void* out, std::size_t n) {
    const std::size_t r = read_.load(std::memory_order_relaxed);
    auto* to = static_cast<std::uint8_t*>(out);
    const std::size_t at = r & (size_ - 1), first = n < size_ - at ? n : size_ - at;
    std::memcpy(to, bytes_.get() + at, first);
    std::memcpy(to + first, bytes_.get(), n - first);
    read_.store(r + n, std::memory_order_release);
  }

 private:
  void Copy(std::size_t position, const std::uint8_t* from, std::size_t n) {
    const std::size_t at = position & (size_ - 1), first = n < size_ - at ? n : size_ - at;
    std::memcpy(bytes_.get() + at, from, first);
    std::memcpy(bytes_.get(), from + first, n - first);
  }

  const std::size_t size_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  alignas(64) std::atomic<std::size_t> write_{0};
  alignas(64) std::atomic<std::size_t> read_{0};
};

// An input event in a ByteRing: its size and its arrival on the MIDI system's clock in
// microseconds (0 where it gives none), then its bytes.
struct EventHead {
  std::uint32_t size = 0;
  std::uint64_t micros = 0;
};

inline bool PushEvent(ByteRing& ring, const std::uint8_t* bytes, std::size_t size, std::uint64_t micros) {
  const EventHead head{static_cast<std::uint32_t>(size), micros};
  return ring.Write(&head, sizeof head, bytes, size);
}

// Consumer: up to max bytes of the events waiting, their heads left out; left keeps
// what remains of an event read in part.
inline std::size_t ReadEventBytes(ByteRing& ring, std::uint32_t& left, std::uint8_t* out, std::size_t max) {
  std::size_t n = 0;
  while (n < max) {
    if (left == 0) {
      if (ring.Readable() < sizeof(EventHead)) break;
      EventHead head;
      ring.Read(&head, sizeof head);
      left = head.size;
      continue;
    }
    const std::size_t part = left < max - n ? left : max - n;
    ring.Read(out + n, part);
    n += part;
    left -= static_cast<std::uint32_t>(part);
  }
  return n;
}

// A wake-up from a MIDI thread to the receive loop sleeping while it has nothing to do.
// Notify() may run on a realtime thread: one atomic exchange and, only when the sleeper
// may be waiting, one wake; no lock, no allocation. One thread waits; any number notify.
class Waker {
 public:
  void Notify() {
    if (pending_.exchange(1, std::memory_order_release) == 0) platform::WakeWordWaiter(pending_);
  }
  // Returns at once when notified since the last wait, else sleeps until a Notify or
  // the timeout (a signal may end it early); true when notified.
  bool WaitFor(std::chrono::milliseconds timeout) {
    if (pending_.exchange(0, std::memory_order_acquire) != 0) return true;
    platform::WaitWhileWordIs(pending_, 0u, timeout);
    return pending_.exchange(0, std::memory_order_acquire) != 0;
  }

 private:
  std::atomic<std::uint32_t> pending_{0};
};

}  // namespace midi
