// A lock-free ring of bytes between one producer and one consumer thread, for the MIDI
// systems' threads, which may not lock or allocate: input events from the callback to
// the program, output blocks from the program to JACK's callback.
// The producer writes only write_, the consumer only read_. Bytes are stored before
// write_ is published (release) and read only after it was seen to move (acquire); the
// consumer frees room by publishing read_. Positions count up for ever, so a full ring
// is told apart from an empty one. A write that does not fit stores nothing, so the
// consumer never sees half an event.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace midi {

class ByteRing {
 public:
  // At least `capacity` bytes, not touched until used: an idle ring costs next to nothing.
  explicit ByteRing(std::size_t capacity) : size_(RoundUp(capacity)), bytes_(new std::uint8_t[size_]) {}

  // Producer: head then data, both or nothing.
  bool Write(const void* head, std::size_t headSize, const std::uint8_t* data, std::size_t size) {
    const std::size_t w = write_.load(std::memory_order_relaxed);
    if (headSize + size > size_ - (w - read_.load(std::memory_order_acquire))) return false;
    Copy(w, static_cast<const std::uint8_t*>(head), headSize);
    Copy(w + headSize, data, size);
    write_.store(w + headSize + size, std::memory_order_release);
    return true;
  }
  std::size_t Room() const { return size_ - (write_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire)); }

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
  static std::size_t RoundUp(std::size_t n) {
    std::size_t p = 64;
    while (p < n) p <<= 1;
    return p;
  }
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
// microseconds (0 where the system gives none), then its bytes.
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

}  // namespace midi
