// The lock-free rings between the MIDI thread and the receive loop.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/ByteRing.h"
#include "midi/InputRings.h"
#include "midi/SpscRing.h"

namespace {

TEST(SpscRing, AFullRingRefusesAndCountsInsteadOfLappingTheReader) {
  midi::SpscRing<std::uint32_t, 4> ring;
  for (std::uint32_t v = 1; v <= 6; ++v) ring.Push(v);  // 5 and 6 find it full
  EXPECT_EQ(ring.Dropped(), 2u);
  std::vector<std::uint32_t> got;
  for (std::uint32_t v = 0; ring.Pop(v);) got.push_back(v);
  EXPECT_EQ(got, (std::vector<std::uint32_t>{1, 2, 3, 4}));
  // Room again once read, and positions keep working past the wrap.
  for (std::uint32_t v = 7; v <= 10; ++v) EXPECT_TRUE(ring.Push(v));
  std::uint32_t v = 0;
  ASSERT_TRUE(ring.Pop(v));
  EXPECT_EQ(v, 7u);
}

TEST(InputRings, AFloodOfShortEventsLeavesReturnedBuffersIntact) {
  midi::InputRings rings;
  midi::MidiHdr headers[4];
  const auto instance = midi::CallbackInstance(rings);
  midi::MidiInCallback(1, midi::kMimLongData, instance, reinterpret_cast<std::uintptr_t>(&headers[0]), 0);
  for (int i = 0; i < 200; ++i) midi::MidiInCallback(1, midi::kMimData, instance, 0xFE, 0);
  midi::MidiInCallback(1, midi::kMimLongData, instance, reinterpret_cast<std::uintptr_t>(&headers[1]), 0);

  midi::MidiHdr* h = nullptr;
  ASSERT_TRUE(rings.LongDataRing.Pop(h));
  EXPECT_EQ(h, &headers[0]);
  ASSERT_TRUE(rings.LongDataRing.Pop(h));
  EXPECT_EQ(h, &headers[1]);
  EXPECT_FALSE(rings.LongDataRing.Pop(h));
  EXPECT_EQ(rings.ShortEventsDropped(), 200u - 64u);
}

TEST(InputRings, TimingClockIsDroppedButOtherNotificationsKeepTheirParameter) {
  midi::InputRings rings;
  const auto instance = midi::CallbackInstance(rings);
  midi::MidiInCallback(1, midi::kMimData, instance, 0xF8, 0);
  midi::MidiInCallback(1, midi::kMimOpen, instance, 0, 0);
  midi::MidiInCallback(1, midi::kMimLongError, instance, 0xF8, 0);  // not a short message: kept
  midi::MidiInCallback(1, midi::kMimData, instance, 0x7F3C90, 0);
  std::vector<std::uint32_t> got;
  for (std::uint32_t v = 0; rings.ShortEventRing.Pop(v);) got.push_back(v);
  EXPECT_EQ(got, (std::vector<std::uint32_t>{0, 0xF8, 0x7F3C90}));
}

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
  int next = 0;
  bool intact = true;
  std::vector<std::uint8_t> event;
  std::uint64_t micros = 0;
  while (next < kEvents) {
    if (!midi::PopEvent(ring, event, micros)) continue;
    intact = intact && event.size() == static_cast<std::size_t>(next % 97 + 1) && micros == static_cast<std::uint64_t>(next);
    for (const std::uint8_t b : event) intact = intact && b == static_cast<std::uint8_t>(next);
    ++next;
  }
  producer.join();
  EXPECT_TRUE(intact);
  // A head and the rest of the 256 bytes fill the ring exactly; one byte more does not fit.
  const std::vector<std::uint8_t> rest(256 - sizeof(midi::EventHead) + 1);
  EXPECT_FALSE(midi::PushEvent(ring, rest.data(), rest.size(), 0));
  EXPECT_TRUE(midi::PushEvent(ring, rest.data(), rest.size() - 1, 0));
  EXPECT_FALSE(midi::PopEvent(ring, event, micros) && midi::PopEvent(ring, event, micros)) << "one event, whole";
}

}  // namespace
