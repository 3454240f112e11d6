// A lock-free single-producer single-consumer ring of fixed entries between a MIDI
// thread and the thread that drains it: the ring of the input callback.
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

}  // namespace midi
