// The input buffer pool, the device probe and lists, device selection and the MIDI
// error notice, on the fake layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "midi/InputBufferPool.h"
#include "midi/InputRings.h"
#include "midi/MidiDevices.h"
#include "midi/MidiError.h"

namespace {

// Heap blocks whose allocations and locks fail when the script says so.
class ScriptedAllocator final : public midi::BlockAllocator {
 public:
  std::uintptr_t Allocate(std::size_t bytes) override {
    if (++allocations == failAllocation) return 0;
    return heap.Allocate(bytes);
  }
  std::uint8_t* Lock(std::uintptr_t handle) override {
    ++locks;
    if (lockFailures > 0) {
      --lockFailures;
      return nullptr;
    }
    return heap.Lock(handle);
  }
  void Unlock(std::uintptr_t handle) override { heap.Unlock(handle); }
  void Free(std::uintptr_t handle) override {
    ++frees;
    heap.Free(handle);
  }
  midi::HeapBlockAllocator heap;
  int failAllocation = 0;  // 1-based; 0 = none fails
  int lockFailures = 0;
  int allocations = 0, locks = 0, frees = 0;
};

class ListEntries final : public midi::DeviceList {
 public:
  void Clear() override { items.clear(); }
  void AddItem(const std::string& name) override { items.push_back(name); }
  int ListCount() const override { return static_cast<int>(items.size()); }
  std::string Item(int p) const override { return p >= 0 && p < ListCount() ? items[static_cast<std::size_t>(p)] : ""; }
  int ListIndex() const override { return index; }
  void SetListIndex(int p) override { index = p; }
  void SetText(const std::string& t) override { text = t; }
  std::vector<std::string> items;
  int index = -1;
  std::string text;
};

struct Rig {
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountingPump pump;
  ScriptedAllocator allocator;
  midi::InputRings rings;
  midi::DeviceState devices;
  midi::InputBufferPool pool{ports, allocator, dialogs, pump};
  ListEntries cInp, cOut;
  midi::DeviceSelection selection{ports, devices, pool, dialogs, cInp, cOut};
  bool quit = false;

  void Open() {
    midi::ProbeDevices(ports, devices, &midi::MidiInCallback, midi::CallbackInstance(rings), pump);
    midi::FillDeviceLists(ports, devices, selection, cInp, cOut, quit);
  }
  // Start-up with two full ports and the pool queued on slot 0.
  void StartTwoPorts() {
    ports.AddSlot("In A", "Out A");
    ports.AddSlot("In B", "Out B");
    Open();
    ASSERT_TRUE(pool.AllocatePool(quit));
    pool.QueuePool(devices.InputHandles[0]);
  }
  // The loop's part: take one returned buffer off the ring.
  int TakeReturned() {
    midi::MidiHdr* h = nullptr;
    if (!rings.LongDataRing.Pop(h)) return -1;
    const int b = pool.FindBufferByData(h->lpData);
    pool.MarkReturned(b);
    return b;
  }
  ~Rig() { midi::ShutDownPorts(ports, devices); }
};

class AllocationFailure : public ::testing::TestWithParam<std::pair<int, std::string>> {};

TEST_P(AllocationFailure, NamesTheTotalAskedForSoFar) {
  Rig rig;
  rig.allocator.failAllocation = GetParam().first;
  EXPECT_FALSE(rig.pool.AllocatePool(rig.quit));
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{GetParam().second}));
  EXPECT_EQ(rig.allocator.allocations, GetParam().first);
}
INSTANTIATE_TEST_SUITE_P(Pool, AllocationFailure,
                         ::testing::Values(std::make_pair(1, "Could not allocate 16K of RAM."),
                                           std::make_pair(3, "Could not allocate 48K of RAM."),
                                           std::make_pair(4, "Could not allocate 64K of RAM.")));

TEST(Pool, ALockThatSucceedsAfterAThousandFailuresShowsNothing) {
  Rig rig;
  rig.allocator.lockFailures = 1000;
  ASSERT_TRUE(rig.pool.AllocatePool(rig.quit));
  EXPECT_TRUE(rig.dialogs.messages.empty());
  EXPECT_FALSE(rig.quit);
  EXPECT_EQ(rig.pump.calls, 1000);
  for (int b = 0; b < midi::kPoolBufferCount; ++b) {
    const midi::PoolBuffer& buffer = rig.pool.Buffer(b);
    ASSERT_NE(buffer.locked, nullptr);
    EXPECT_EQ(buffer.locked[0], 0);  // zero-filled
    EXPECT_EQ(buffer.locked[midi::kPoolBufferBytes - 1], 0);
  }
}

TEST(Pool, TheThousandAndFirstLockFailureGivesUpAndLocksNothingMore) {
  Rig rig;
  rig.allocator.lockFailures = 1001;
  ASSERT_TRUE(rig.pool.AllocatePool(rig.quit));
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{"Cannot lock buffer 0"}));
  EXPECT_TRUE(rig.quit);
  EXPECT_EQ(rig.allocator.locks, 1001);
  EXPECT_EQ(rig.allocator.allocations, 4);
  rig.pool.ReleasePool();
  EXPECT_EQ(rig.allocator.frees, 4);
}

TEST(Pool, AFailedRepreparationIsShownOnceAndTheOtherBuffersKeepCycling) {
  Rig rig;
  rig.ports.errorTexts[midi::kErrNoMemory] = "Out of memory";
  rig.StartTwoPorts();
  const midi::PortHandle port = rig.devices.InputHandles[0];
  rig.ports.inPrepareResults = {midi::kErrNoMemory};  // the first recycle fails
  for (int message = 0; message < 12; ++message) {
    rig.ports.SendSysex(0, {0xF0, static_cast<std::uint8_t>(message), 0xF7});
    ASSERT_TRUE(rig.ports.WaitUntilDelivered());
    const int b = rig.TakeReturned();
    ASSERT_GE(b, 0) << "message " << message << " found no buffer";
    rig.pool.RecycleBuffer(b, port);
  }
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{"midiInPrepareHeader: Out of memory"}));
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 3u);
}

// A device change run from the event pumping of an unpack: the buffer being unpacked
// must go to the new port once, when the loop recycles it, and the others move.
TEST(Pool, ADeviceChangeDuringAnUnpackQueuesNoBufferTwice) {
  Rig rig;
  rig.StartTwoPorts();
  rig.ports.SendSysex(0, {0xF0, 0x01, 0xF7});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  const int unpacking = rig.TakeReturned();
  ASSERT_EQ(unpacking, 0);

  rig.selection.SelectInput(1);  // as a handler inside the unpack's PumpEvents would
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 0u);
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 3u);
  rig.pool.RecycleBuffer(unpacking, rig.devices.SelectedInputHandle());
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 4u);
  for (int b = 0; b < midi::kPoolBufferCount; ++b) EXPECT_EQ(rig.pool.Buffer(b).state, midi::BufferState::Queued);

  // The same happens when the change comes while the returned buffer still waits in the ring.
  rig.ports.SendSysex(1, {0xF0, 0x02, 0xF7});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  rig.selection.SelectInput(0);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 3u);
  const int waiting = rig.TakeReturned();
  ASSERT_GE(waiting, 0);
  EXPECT_EQ(rig.pool.Buffer(waiting).header.dwBytesRecorded, 3u);  // its data untouched
  rig.pool.RecycleBuffer(waiting, rig.devices.SelectedInputHandle());
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);
}

TEST(Devices, InputOnlyInSlotOneAndOutputOnlyInSlotZero) {
  Rig rig;
  rig.ports.AddSlot("", "Only Out");
  rig.ports.AddSlot("Only In", "");
  rig.Open();
  EXPECT_EQ(rig.devices.DeviceSlotCount, 2);
  EXPECT_TRUE(rig.cInp.items.empty());  // the input list ends at slot 0, which has no input
  EXPECT_EQ(rig.cOut.items, (std::vector<std::string>{"Only Out"}));
  EXPECT_EQ(rig.devices.SelectedInput, -1);
  EXPECT_EQ(rig.devices.SelectedOutput, 0);
}

TEST(Devices, TheStartUpSelectionQueuesNothingStopsNothingAndStartsPortZero) {
  Rig rig;
  rig.ports.AddSlot("In A", "Out A");
  rig.ports.AddSlot("In B", "Out B");
  rig.Open();
  EXPECT_EQ(rig.devices.DeviceSlotCount, 2);
  EXPECT_EQ(rig.cInp.text, "In A");
  std::vector<std::string> afterProbe;
  for (const auto& c : rig.ports.Calls()) {
    if (c.rfind("Out", 0) != 0 && c.rfind("InReset", 0) != 0) afterProbe.push_back(c);
  }
  EXPECT_EQ(afterProbe, (std::vector<std::string>{"InStart 0"}));
}

TEST(Devices, ChoosingTheSelectedInputAgainCyclesThePoolOnTheSamePort) {
  Rig rig;
  rig.StartTwoPorts();
  rig.ports.ClearCalls();
  rig.selection.SelectInput(0);
  const std::vector<std::string> expected = {
      "InUnprepareHeader 0", "InUnprepareHeader 0", "InUnprepareHeader 0", "InUnprepareHeader 0", "InStop 0",
      "InPrepareHeader 0",   "InAddBuffer 0",       "InPrepareHeader 0",   "InAddBuffer 0",       "InPrepareHeader 0",
      "InAddBuffer 0",       "InPrepareHeader 0",   "InAddBuffer 0",       "InStart 0"};
  EXPECT_EQ(rig.ports.Calls(), expected);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);
}

TEST(Devices, AnIllegalPositionFallsBackToEntryZero) {
  Rig rig;
  rig.StartTwoPorts();
  rig.selection.SelectInput(1);
  rig.selection.SelectInput(2);
  rig.selection.SelectOutput(5);
  EXPECT_EQ(rig.dialogs.Texts(),
            (std::vector<std::string>{"Illegal input device selected!", "Illegal output device selected!"}));
  EXPECT_EQ(rig.devices.SelectedInput, 0);
  EXPECT_EQ(rig.devices.SelectedOutput, 0);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 0u);
}

TEST(Devices, AFailedNameQueryAsksToQuit) {
  Rig rig;
  rig.ports.AddSlot("In A", "Out A");
  rig.ports.failOutCaps = {0};
  rig.Open();
  EXPECT_TRUE(rig.quit);
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

TEST(Devices, ShutDownTakesEveryBufferBackBeforeThePoolIsFreed) {
  Rig rig;
  rig.StartTwoPorts();
  rig.ports.InStart(rig.devices.InputHandles[0]);
  midi::ShutDownPorts(rig.ports, rig.devices);
  EXPECT_FALSE(rig.ports.InputOpen(0));
  rig.pool.ReleasePool();
  // Input now must find no buffer to write into (ASan would catch a write into freed memory).
  rig.ports.SendSysex(0, {0xF0, 1, 0xF7});
  rig.ports.WaitUntilDelivered();
  EXPECT_TRUE(rig.rings.LongDataRing.Empty());
}

class MidiErrorNotice : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(MidiErrorNotice, ReadsTheOperationAndTheLayersText) {
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  ports.errorTexts[midi::kErrNotReady] = GetParam().first;
  midi::ShowMidiError(static_cast<std::int16_t>(midi::kErrNotReady), "midiOutLongMsg", ports, dialogs);
  EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{GetParam().second}));
}
INSTANTIATE_TEST_SUITE_P(
    MidiError, MidiErrorNotice,
    ::testing::Values(std::make_pair("The hardware is busy.", "midiOutLongMsg: The hardware is busy."),
                      std::make_pair("", "midiOutLongMsg: Unknown error"),
                      std::make_pair(std::string("Cut\0here", 8), "midiOutLongMsg: Cut"),
                      std::make_pair(std::string(200, 'x'), "midiOutLongMsg: " + std::string(160, 'x'))));

TEST(MidiError, CodeZeroShowsNothing) {
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  midi::ShowMidiError(0, "midiInPrepareHeader", ports, dialogs);
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
