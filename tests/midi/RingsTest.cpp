// The lock-free rings between the MIDI thread and the receive loop.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

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

// Records of every length, some wrapping round the end of a small ring, pass a real
// producer thread to a consumer intact and in order; what does not fit is counted.
TEST(SpscByteRing, RecordsCrossThreadsWholeAndInOrder) {
  midi::SpscByteRing ring(256);
  constexpr int kRecords = 20000;
  std::thread producer([&] {
    std::vector<std::uint8_t> record;
    for (int i = 0; i < kRecords; ++i) {
      record.assign(static_cast<std::size_t>(i % 97 + 1), static_cast<std::uint8_t>(i));
      while (!ring.PushRecord(record.data(), static_cast<std::uint32_t>(record.size()))) std::this_thread::yield();
    }
  });
  int next = 0;
  bool intact = true;
  while (next < kRecords) {
    ring.Drain([&](const std::uint8_t* bytes, std::uint32_t count) {
      intact = intact && count == static_cast<std::uint32_t>(next % 97 + 1);
      for (std::uint32_t k = 0; k < count; ++k) intact = intact && bytes[k] == static_cast<std::uint8_t>(next);
      ++next;
    });
  }
  producer.join();
  EXPECT_TRUE(intact);
  // The retries above were refusals: each counted its bytes.
  EXPECT_FALSE(ring.PushRecord(std::vector<std::uint8_t>(300).data(), 300));
  EXPECT_GE(ring.DroppedBytes(), 300u);
}

}  // namespace
