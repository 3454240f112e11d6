// The input side shared by every layer, driven on one thread: messages in, buffers
// and short events out through the callback, exactly in arrival order.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "midi/InputHub.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Event {
  std::uint32_t message;
  midi::MidiHdr* header;  // for long data
  std::uint32_t param1;   // for short events
  Bytes bytes;            // the buffer's recorded bytes when it was returned
};

struct Rig {
  static void Callback(midi::PortHandle, std::uint32_t message, std::uintptr_t instance, std::uintptr_t p1,
                       std::uintptr_t) {
    Event e{message, nullptr, static_cast<std::uint32_t>(p1), {}};
    if (message == midi::kMimLongData) {
      e.header = reinterpret_cast<midi::MidiHdr*>(p1);
      e.bytes.assign(e.header->lpData, e.header->lpData + e.header->dwBytesRecorded);
    }
    reinterpret_cast<Rig*>(instance)->events.push_back(e);
  }
  explicit Rig(std::uint32_t bufferBytes = 16) {
    hub.Open(kPort, &Callback, reinterpret_cast<std::uintptr_t>(this));
    for (std::size_t i = 0; i < headers.size(); ++i) {
      memory[i].resize(bufferBytes);
      headers[i].lpData = memory[i].data();
      headers[i].dwBufferLength = bufferBytes;
    }
    hub.Start(kPort);
  }
  midi::MidiResult Add(int i, midi::PortHandle port = kPort) {
    hub.Prepare(port, &headers[static_cast<std::size_t>(i)], midi::kMidiHdrSize);
    return hub.AddBuffer(port, &headers[static_cast<std::size_t>(i)], midi::kMidiHdrSize);
  }
  void Receive(const Bytes& b) { hub.Receive(kPort, b.data(), b.size()); }

  static constexpr midi::PortHandle kPort = 7;
  int wakes = 0;
  midi::InputHub hub{[this] { ++wakes; }};
  std::array<midi::MidiHdr, 4> headers{};
  std::array<Bytes, 4> memory;
  std::vector<Event> events;
};

Bytes Sysex(std::size_t dataBytes, std::uint8_t fill) {
  // Sized once: g++ 12 at -O2 takes an insert into a one-byte vector for an
  // out-of-bounds copy.
  Bytes m(dataBytes + 2, fill);
  m.front() = 0xF0;
  m.back() = 0xF7;
  return m;
}

// Nothing may be lost while the receive loop holds every buffer (a modal dialog): the
// bytes wait, and later short events wait behind them so the order stays as received.
TEST(InputHub, InputWaitsInOrderWhileNoBufferIsQueued) {
  Rig rig(8);
  ASSERT_EQ(rig.Add(0), midi::kNoError);
  rig.Receive(Sysex(10, 0x33));  // 12 bytes: 8 fit, 4 wait
  rig.Receive({0xFE});
  rig.Receive(Sysex(1, 0x44));
  rig.hub.DeliverAll();
  ASSERT_EQ(rig.events.size(), 1u);
  EXPECT_EQ(rig.headers[0].dwFlags & (midi::kMhdrDone | midi::kMhdrInQueue), midi::kMhdrDone);
  EXPECT_FALSE(rig.hub.BacklogEmpty());

  ASSERT_EQ(rig.Add(1), midi::kNoError);
  EXPECT_GT(rig.wakes, 0) << "the delivery thread is told there is room now";
  ASSERT_EQ(rig.Add(2), midi::kNoError);
  rig.hub.DeliverAll();
  ASSERT_EQ(rig.events.size(), 4u);
  EXPECT_EQ(rig.events[1].bytes, (Bytes{0x33, 0x33, 0x33, 0xF7}));
  EXPECT_EQ(rig.events[2].message, midi::kMimData);
  EXPECT_EQ(rig.events[2].param1, 0xFEu);
  EXPECT_EQ(rig.events[3].bytes, Sysex(1, 0x44));
  EXPECT_TRUE(rig.hub.BacklogEmpty());
}

TEST(InputHub, AHeaderIsNeverInTwoQueuesAndOnlyAPreparedOneWithMemoryIsTaken) {
  Rig rig;
  midi::MidiHdr empty;
  EXPECT_EQ(rig.hub.Prepare(Rig::kPort, &empty, midi::kMidiHdrSize), midi::kErrInvalidParam);
  EXPECT_EQ(rig.hub.Prepare(Rig::kPort, &rig.headers[0], 40), midi::kErrInvalidParam);
  EXPECT_EQ(rig.hub.AddBuffer(Rig::kPort, &rig.headers[0], midi::kMidiHdrSize), midi::kErrUnprepared);
  ASSERT_EQ(rig.Add(0), midi::kNoError);
  EXPECT_EQ(rig.Add(0), midi::kErrStillPlaying);
  rig.hub.Open(8, &Rig::Callback, reinterpret_cast<std::uintptr_t>(&rig));
  EXPECT_EQ(rig.hub.AddBuffer(8, &rig.headers[0], midi::kMidiHdrSize), midi::kErrStillPlaying);
  EXPECT_EQ(rig.hub.Unprepare(8, &rig.headers[0], midi::kMidiHdrSize), midi::kErrStillPlaying);
  // Withdrawn from its own port, it may go to the other one, and is not returned by the first.
  EXPECT_EQ(rig.hub.Unprepare(Rig::kPort, &rig.headers[0], midi::kMidiHdrSize), midi::kNoError);
  EXPECT_EQ(rig.headers[0].dwFlags & midi::kMhdrDone, 0u);
  EXPECT_EQ(rig.Add(0, 8), midi::kNoError);
  rig.Receive(Sysex(1, 1));
  rig.hub.DeliverAll();
  EXPECT_TRUE(rig.events.empty());
}

TEST(InputHub, AStoppedPortHandsNothingOver) {
  Rig rig;
  ASSERT_EQ(rig.Add(0), midi::kNoError);
  rig.hub.Stop(Rig::kPort);
  rig.Receive(Sysex(2, 5));
  rig.hub.Start(Rig::kPort);
  rig.hub.DeliverAll();
  EXPECT_TRUE(rig.events.empty());
}

}  // namespace
