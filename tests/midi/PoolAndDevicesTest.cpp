// The input buffer pool, the device probe and lists, device selection and the MIDI
// error notice, on the fake layer.
#include <gtest/gtest.h>

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

using Strings = std::vector<std::string>;

// Heap blocks whose allocations and locks fail when the script says so.
class ScriptedAllocator final : public midi::BlockAllocator {
 public:
  std::uintptr_t Allocate(std::size_t bytes) override {
    return ++allocations == failAllocation ? 0 : heap.Allocate(bytes);
  }
  std::uint8_t* Lock(std::uintptr_t handle) override { return ++locks <= lockFailures ? nullptr : heap.Lock(handle); }
  void Unlock(std::uintptr_t handle) override { heap.Unlock(handle); }
  void Free(std::uintptr_t handle) override {
    ++frees;
    heap.Free(handle);
  }
  midi::HeapBlockAllocator heap;
  int failAllocation = 0;  // 1-based; 0 = none fails
  int lockFailures = 0;  // the first this many locks fail
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
  Strings items;
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
  // A message arrives on a slot and the loop takes its returned buffer off the ring.
  int ReceiveAndTake(int slot, std::uint8_t data) {
    ports.SendSysex(slot, {0xF0, data, 0xF7});
    EXPECT_TRUE(ports.WaitUntilDelivered());
    midi::MidiHdr* h = nullptr;
    if (!rings.LongDataRing.Pop(h)) return -1;
    const int b = pool.FindBufferByData(h->lpData);
    pool.MarkReturned(b);
    return b;
  }
  ~Rig() { midi::ShutDownPorts(ports, devices); }
};

struct PoolFault {
  int failAllocation, lockFailures;
  std::string message;  // empty: none
};
void PrintTo(const PoolFault& f, std::ostream* os) { *os << f.failAllocation << " " << f.lockFailures; }
class AllocatingThePool : public testing::TestWithParam<PoolFault> {};

// A lock is retried 1000 times, pumping events between tries; the next failure gives up
// and asks the program to end.
TEST_P(AllocatingThePool, ShowsWhatFailedAndNamesTheTotalAskedForSoFar) {
  Rig rig;
  rig.allocator.failAllocation = GetParam().failAllocation;
  rig.allocator.lockFailures = GetParam().lockFailures;
  EXPECT_EQ(rig.pool.AllocatePool(rig.quit), GetParam().failAllocation == 0);
  EXPECT_EQ(rig.dialogs.Texts(), GetParam().message.empty() ? Strings{} : Strings{GetParam().message});
  EXPECT_EQ(rig.quit, GetParam().lockFailures > 1000);
  EXPECT_EQ(rig.allocator.allocations, GetParam().failAllocation == 0 ? 4 : GetParam().failAllocation);
  if (GetParam().failAllocation == 0) {
    EXPECT_EQ(rig.allocator.locks, GetParam().lockFailures > 1000 ? 1001 : GetParam().lockFailures + 4) << "no lock tried after giving up";
  }
  if (GetParam().lockFailures == 1000) {
    EXPECT_EQ(rig.pump.calls, 1000);
    for (int b = 0; b < midi::kPoolBufferCount; ++b) {
      ASSERT_NE(rig.pool.Buffer(b).locked, nullptr);
      EXPECT_EQ(rig.pool.Buffer(b).locked[midi::kPoolBufferBytes - 1], 0) << "zero-filled";
    }
  }
  rig.pool.ReleasePool();
  EXPECT_EQ(rig.allocator.frees, rig.allocator.allocations - (GetParam().failAllocation == 0 ? 0 : 1));
}
INSTANTIATE_TEST_SUITE_P(Pool, AllocatingThePool,
                         testing::Values(PoolFault{1, 0, "Could not allocate 16K of RAM."},
                                         PoolFault{4, 0, "Could not allocate 64K of RAM."},
                                         PoolFault{0, 1000, ""}, PoolFault{0, 1001, "Cannot lock buffer 0"}));

TEST(Pool, AFailedRepreparationIsShownOnceAndTheOtherBuffersKeepCycling) {
  Rig rig;
  rig.ports.errorTexts[midi::kErrNoMemory] = "Out of memory";
  rig.StartTwoPorts();
  rig.ports.inPrepareResults = {midi::kErrNoMemory};  // the first recycle fails
  for (int message = 0; message < 12; ++message) {
    const int b = rig.ReceiveAndTake(0, static_cast<std::uint8_t>(message));
    ASSERT_GE(b, 0) << "message " << message << " found no buffer";
    rig.pool.RecycleBuffer(b, rig.devices.InputHandles[0]);
  }
  EXPECT_EQ(rig.dialogs.Texts(), Strings{"midiInPrepareHeader: Out of memory"});
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 3u);
}

// A device change run from the event pumping of an unpack: the buffer being unpacked
// must go to the new port once, when the loop recycles it, and the others move.
TEST(Pool, ADeviceChangeDuringAnUnpackQueuesNoBufferTwice) {
  Rig rig;
  rig.StartTwoPorts();
  const int unpacking = rig.ReceiveAndTake(0, 1);
  ASSERT_EQ(unpacking, 0);
  rig.selection.SelectInput(1);  // as a handler inside the unpack's PumpEvents would
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 0u);
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 3u);
  rig.pool.RecycleBuffer(unpacking, rig.devices.SelectedInputHandle());
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 4u);
  for (int b = 0; b < midi::kPoolBufferCount; ++b) EXPECT_EQ(rig.pool.Buffer(b).state, midi::BufferState::Queued);

  // The same when the change comes while the returned buffer still waits in the ring.
  rig.ports.SendSysex(1, {0xF0, 0x02, 0xF7});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  rig.selection.SelectInput(0);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 3u);
  midi::MidiHdr* h = nullptr;
  ASSERT_TRUE(rig.rings.LongDataRing.Pop(h));
  const int waiting = rig.pool.FindBufferByData(h->lpData);
  rig.pool.MarkReturned(waiting);
  EXPECT_EQ(rig.pool.Buffer(waiting).header.dwBytesRecorded, 3u) << "its data untouched";
  rig.pool.RecycleBuffer(waiting, rig.devices.SelectedInputHandle());
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);
}

// Where each list ends is the window's start-up test (tests/app).
TEST(Devices, AFailedNameQueryAsksToQuit) {
  Rig failing;
  failing.ports.AddSlot("In A", "Out A");
  failing.ports.failOutCaps = {0};
  failing.Open();
  EXPECT_TRUE(failing.quit);
  EXPECT_TRUE(failing.dialogs.messages.empty());
}

TEST(Devices, SelectionStartsTheFirstInputAndAnIllegalPositionFallsBackToEntryZero) {
  Rig rig;
  rig.StartTwoPorts();
  EXPECT_EQ(rig.cInp.text, "In A");
  rig.ports.SendShort(0, {0x90, 0x3C, 0x7F});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  std::uint32_t event = 0;
  EXPECT_TRUE(rig.rings.ShortEventRing.Pop(event)) << "port 0 started at start-up";
  rig.selection.SelectInput(1);
  rig.selection.SelectInput(2);
  rig.selection.SelectOutput(5);
  EXPECT_EQ(rig.dialogs.Texts(), (Strings{"Illegal input device selected!", "Illegal output device selected!"}));
  EXPECT_EQ(rig.devices.SelectedInput, 0);
  EXPECT_EQ(rig.devices.SelectedOutput, 0);
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);
  EXPECT_EQ(rig.ports.QueuedBuffers(1), 0u);
}

TEST(Devices, ShutDownTakesEveryBufferBackBeforeThePoolIsFreed) {
  Rig rig;
  rig.StartTwoPorts();
  midi::ShutDownPorts(rig.ports, rig.devices);
  EXPECT_FALSE(rig.ports.InputOpen(0));
  rig.pool.ReleasePool();
  // Input now must find no buffer to write into (ASan would catch a write into freed memory).
  rig.ports.SendSysex(0, {0xF0, 1, 0xF7});
  rig.ports.WaitUntilDelivered();
  EXPECT_TRUE(rig.rings.LongDataRing.Empty());
}

TEST(MidiError, TheNoticeReadsTheOperationAndTheLayersTextAndCodeZeroShowsNothing) {
  const struct {
    std::int16_t code;
    std::string layerText, shown;  // shown: empty for none
  } cases[] = {{midi::kErrNotReady, "The hardware is busy.", "midiOutLongMsg: The hardware is busy."},
               {midi::kErrNotReady, "", "midiOutLongMsg: Unknown error"},
               {midi::kErrNotReady, std::string("Cut\0here", 8), "midiOutLongMsg: Cut"},
               {midi::kErrNotReady, std::string(200, 'x'), "midiOutLongMsg: " + std::string(160, 'x')},
               {0, "no error", ""}};
  for (const auto& c : cases) {
    FakeMidiPorts ports;
    ScriptedDialogs dialogs;
    ports.errorTexts[c.code] = c.layerText;
    midi::ShowMidiError(c.code, "midiOutLongMsg", ports, dialogs);
    EXPECT_EQ(dialogs.Texts(), c.shown.empty() ? Strings{} : Strings{c.shown});
  }
}

}  // namespace
