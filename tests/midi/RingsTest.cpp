// The lock-free ring between the MIDI system's thread and the receive loop.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/ByteRing.h"

namespace {

// Events of every length, some wrapping round the end of a small ring, pass a real
// producer thread to a consumer intact and in order; one that does not fit is refused
// whole.
TEST(ByteRing, EventsCrossThreadsWholeAndInOrder) {
  midi::ByteRing ring(256);
  constexpr int kEvents = 20000;
  std::thread producer([&] {
    std::vector<std::uint8_t> event;
    for (int i = 0; i < kEvents; ++i) {
      event.assign(static_cast<std::size_t>(i % 97 + 1), static_cast<std::uint8_t>(i));
      while (!midi::PushEvent(ring, event.data(), event.size(), static_cast<std::uint64_t>(i))) std::this_thread::yield();
    }
  });
  // Read as the receive loop reads them, heads left out, in pieces of 50 bytes that
  // end in the middle of events; each event is its length's worth of its number.
  int next = 0, inEvent = 0;
  bool intact = true;
  std::uint32_t left = 0;
  std::uint8_t piece[50];
  while (next < kEvents) {
    const std::size_t n = midi::ReadEventBytes(ring, left, piece, sizeof piece);
    for (std::size_t k = 0; k < n; ++k) {
      intact = intact && piece[k] == static_cast<std::uint8_t>(next);
      if (++inEvent == next % 97 + 1) ++next, inEvent = 0;
    }
  }
  producer.join();
  EXPECT_TRUE(intact);
  EXPECT_EQ(left, 0u);
  // A head and the rest of the 256 bytes fill the ring exactly; one byte more does not fit.
  std::vector<std::uint8_t> rest(256 - sizeof(midi::EventHead) + 1, 0x55);
  EXPECT_FALSE(midi::PushEvent(ring, rest.data(), rest.size(), 0));
  EXPECT_TRUE(midi::PushEvent(ring, rest.data(), rest.size() - 1, 0));
  EXPECT_EQ(midi::ReadEventBytes(ring, left, rest.data(), rest.size()), rest.size() - 1) << "one event, whole";
}

// A notification that came while no one waited is the next wait's, at once: the idle
// wait must not sleep through input that arrived while it was handling the last.
TEST(Waker, ANotificationBeforeTheWaitEndsItAtOnceAndCountsOnce) {
  midi::Waker waker;
  waker.Notify();
  waker.Notify();
  EXPECT_TRUE(waker.WaitFor(std::chrono::seconds(20)));
  EXPECT_FALSE(waker.WaitFor(std::chrono::milliseconds(1)));
}

}  // namespace
