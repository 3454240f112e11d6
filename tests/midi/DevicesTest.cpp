// The device session (probe, lists, choice, close) and the MIDI error notice, on the
// fake layer; the rescan is the window's test (tests/app).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "midi/DeviceSession.h"

namespace {

using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

class ListEntries final : public midi::DeviceList {
 public:
  void Clear() override { items.clear(); }
  void AddItem(const std::string& name) override { items.push_back(name); }
  int ListCount() const override { return static_cast<int>(items.size()); }
  std::string Item(int p) const override { return p >= 0 && p < ListCount() ? items[static_cast<std::size_t>(p)] : ""; }
  int ListIndex() const override { return index; }
  void SetListIndex(int p) override { index = p; }
  Strings items;
  int index = -1;
};

struct Rig {
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountingPump pump;
  ListEntries inputList, outputList;
  midi::DeviceSession devices{ports, dialogs, pump, inputList, outputList};
  bool quit = false;

  Bytes Read() {
    Bytes got(64);
    got.resize(devices.Read(got.data(), got.size()));
    return got;
  }
};

// Where each list ends is the window's start-up test (tests/app).
TEST(Devices, AFailedNameQueryAsksToQuit) {
  Rig failing;
  failing.ports.AddSlot("In A", "Out A");
  failing.ports.failOutNames = {0};
  EXPECT_TRUE(failing.devices.Open(failing.quit));
  EXPECT_TRUE(failing.quit);
  EXPECT_TRUE(failing.dialogs.messages.empty());
}

TEST(Devices, OnlyTheChosenInputListensAndAnIllegalPositionFallsBackToEntryZero) {
  Rig rig;
  rig.ports.AddSlot("In A", "Out A");
  rig.ports.AddSlot("In B", "Out B");
  ASSERT_TRUE(rig.devices.Open(rig.quit));
  rig.ports.Receive(0, {0xFE});
  EXPECT_EQ(rig.Read(), Bytes{0xFE}) << "slot 0 started at start-up";
  rig.devices.SelectInput(1);
  rig.ports.Receive(0, {0x01});  // the input left is stopped: never kept
  rig.ports.Receive(1, {0x02});
  EXPECT_EQ(rig.Read(), Bytes{0x02});
  rig.devices.SelectInput(2);
  rig.devices.SelectOutput(5);
  EXPECT_EQ(rig.dialogs.Texts(), (Strings{"Illegal input device selected!", "Illegal output device selected!"}));
  EXPECT_EQ(rig.devices.State().SelectedInput, 0);
  EXPECT_EQ(rig.devices.State().SelectedOutput, 0);
  rig.ports.Receive(1, {0x03});
  EXPECT_EQ(rig.Read(), Bytes{}) << "back on slot 0, which kept nothing while stopped";
}

TEST(MidiError, TheNoticeReadsTheOperationAndTheLayersTextAndCodeZeroShowsNothing) {
  const struct {
    std::int16_t code;
    std::string layerText, shown;  // shown: empty for none
  } cases[] = {{midi::kErrNotReady, "The hardware is busy.", "midiOutLongMsg: The hardware is busy."},
               {midi::kErrNotReady, "", "midiOutLongMsg: Unknown error"},
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
