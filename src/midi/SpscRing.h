// Lock-free single-producer single-consumer rings between a MIDI thread and the thread
// that drains it: the fixed-entry ring of the input callback and the byte ring that the
// RtMidi backend fills from the (possibly realtime) backend thread.
//
// Design: the producer writes only write_, the consumer only read_. An entry is stored
// before write_ is published (release) and read only after write_ was seen to move
// (acquire); the consumer frees a slot by publishing read_ (release), which the
// producer acquires before reusing it. Positions count up forever (unsigned wrap), so a
// full ring (write_ - read_ == capacity) is told apart from an empty one. A full ring
// refuses the new entry and counts it: a producer never laps the consumer, so unread
// entries are never overwritten and the ring never looks empty while it holds data.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace midi {

template <typename T, std::size_t Capacity>
class SpscRing {
  static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

 public:
  // Producer side. False when the ring is full; the entry is then counted as dropped.
  bool Push(const T& value) {
    const std::uint32_t w = write_.load(std::memory_order_relaxed);
    if (w - read_.load(std::memory_order_acquire) >= Capacity) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    slots_[w & (Capacity - 1)] = value;
    write_.store(w + 1, std::memory_order_release);
    return true;
  }

  // Consumer side.
  bool Pop(T& value) {
    const std::uint32_t r = read_.load(std::memory_order_relaxed);
    if (r == write_.load(std::memory_order_acquire)) return false;
    value = slots_[r & (Capacity - 1)];
    read_.store(r + 1, std::memory_order_release);
    return true;
  }
  bool Empty() const { return read_.load(std::memory_order_acquire) == write_.load(std::memory_order_acquire); }

  // Only while neither side runs (before the port is started).
  void Clear() {
    write_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
  }

  // Entries refused because the ring was full; any thread may read it.
  std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
  static constexpr std::size_t kCapacity = Capacity;

 private:
  T slots_[Capacity] = {};
  alignas(64) std::atomic<std::uint32_t> write_{0};
  alignas(64) std::atomic<std::uint32_t> read_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

// Variable-length records (a 32-bit length, then the bytes) in one preallocated byte
// area. The producer either stores a whole record or, when it does not fit, none of it
// and counts the record's bytes as dropped, so the consumer never sees half a message.
class SpscByteRing {
 public:
  explicit SpscByteRing(std::size_t capacityBytes)
      : capacity_(RoundUpToPowerOfTwo(capacityBytes)), bytes_(new std::uint8_t[capacity_]) {}

  // Producer side: allocates nothing.
  bool PushRecord(const std::uint8_t* data, std::uint32_t length) {
    const std::size_t w = write_.load(std::memory_order_relaxed);
    const std::size_t free = capacity_ - (w - read_.load(std::memory_order_acquire));
    if (sizeof length + length > free) {
      droppedBytes_.fetch_add(length, std::memory_order_relaxed);
      return false;
    }
    CopyIn(w, reinterpret_cast<const std::uint8_t*>(&length), sizeof length);
    CopyIn(w + sizeof length, data, length);
    write_.store(w + sizeof length + length, std::memory_order_release);
    return true;
  }

  // Consumer side: calls sink(data, length) for every record present, oldest first.
  // A record that wraps round the end is handed over from a scratch copy.
  template <typename Sink>
  std::size_t Drain(Sink&& sink) {
    std::size_t r = read_.load(std::memory_order_relaxed);
    const std::size_t w = write_.load(std::memory_order_acquire);
    std::size_t records = 0;
    while (r != w) {
      std::uint32_t length = 0;
      CopyOut(r, reinterpret_cast<std::uint8_t*>(&length), sizeof length);
      const std::size_t start = (r + sizeof length) & (capacity_ - 1);
      if (start + length <= capacity_) {
        sink(bytes_.get() + start, length);
      } else {
        scratch_.reset(new std::uint8_t[length]);
        CopyOut(r + sizeof length, scratch_.get(), length);
        sink(scratch_.get(), length);
      }
      r += sizeof length + length;
      read_.store(r, std::memory_order_release);
      ++records;
    }
    return records;
  }

  std::uint64_t DroppedBytes() const { return droppedBytes_.load(std::memory_order_relaxed); }

 private:
  static std::size_t RoundUpToPowerOfTwo(std::size_t n) {
    std::size_t p = 64;
    while (p < n) p <<= 1;
    return p;
  }
  void CopyIn(std::size_t position, const std::uint8_t* src, std::size_t n) {
    const std::size_t at = position & (capacity_ - 1);
    const std::size_t first = n < capacity_ - at ? n : capacity_ - at;
    std::memcpy(bytes_.get() + at, src, first);
    std::memcpy(bytes_.get(), src + first, n - first);
  }
  void CopyOut(std::size_t position, std::uint8_t* dst, std::size_t n) const {
    const std::size_t at = position & (capacity_ - 1);
    const std::size_t first = n < capacity_ - at ? n : capacity_ - at;
    std::memcpy(dst, bytes_.get() + at, first);
    std::memcpy(dst + first, bytes_.get(), n - first);
  }

  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::unique_ptr<std::uint8_t[]> scratch_;  // consumer only
  alignas(64) std::atomic<std::size_t> write_{0};
  alignas(64) std::atomic<std::size_t> read_{0};
  std::atomic<std::uint64_t> droppedBytes_{0};
};

}  // namespace midi
