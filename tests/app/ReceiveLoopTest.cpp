// The receive loop on the fake layer: what reaches the Traffic box and the parser, and
// that a whole dump arrives intact while handlers run inside the loop's event pumping.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "DumpGenerator.h"
#include "app/ReceiveLoop.h"
#include "cli/CliSession.h"
#include "cli/MidiCommands.h"
#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SyxFiles.h"
#include "midi/MidiDevices.h"
#include "support/RunCli.h"
#include "ui/AppendTraffic.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class NoWait final : public app::IdleWait {
 public:
  void WaitForInput() override { ++waits; }
  int waits = 0;
};

class Entries final : public midi::DeviceList {
 public:
  void Clear() override { items.clear(); }
  void AddItem(const std::string& n) override { items.push_back(n); }
  int ListCount() const override { return static_cast<int>(items.size()); }
  std::string Item(int p) const override { return p >= 0 && p < ListCount() ? items[static_cast<std::size_t>(p)] : ""; }
  int ListIndex() const override { return index; }
  void SetListIndex(int p) override { index = p; }
  void SetText(const std::string&) override {}
  std::vector<std::string> items;
  int index = -1;
};

struct Rig {
  FakeMidiPorts ports;
  mc303::SharedFlags flags;
  ui::TextBox tPieces{16384}, tDev{1024}, tTraffic{174};
  CountingPump pump;
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  mc303::MC303Parse parse{flags, tPieces, tDev, pump, dialogs, log};
  midi::HeapBlockAllocator allocator;
  midi::InputRings rings;
  midi::DeviceState devices;
  midi::InputBufferPool pool{ports, allocator, dialogs, pump};
  Entries cInp, cOut;
  midi::DeviceSelection selection{ports, devices, pool, dialogs, cInp, cOut};
  NoWait idle;
  app::ReceiveLoop loop{{flags, rings, pool, devices, pump, tTraffic, parse, dialogs, idle}};

  explicit Rig(int slots = 1) {
    for (int s = 0; s < slots; ++s) ports.AddSlot("In " + std::to_string(s), "Out " + std::to_string(s));
    midi::ProbeDevices(ports, devices, &midi::MidiInCallback, midi::CallbackInstance(rings), pump);
    midi::FillDeviceLists(ports, devices, selection, cInp, cOut, flags.QuitRequested);
    EXPECT_TRUE(pool.AllocatePool(flags.QuitRequested));
    pool.QueuePool(devices.SelectedInputHandle());
    ports.InStart(devices.SelectedInputHandle());
    flags.RecordingActive = true;
    parse.ResetPieceStore();
  }
  ~Rig() { midi::ShutDownPorts(ports, devices); }
  // Passes until one finds nothing to do.
  void Drain() {
    while (loop.RunPass() == app::ReceiveLoop::Pass::Worked) {
    }
  }
};

TEST(ReceiveLoop, ShortEventsShowTheirStatusByteExceptTimingClock) {
  Rig rig;
  rig.ports.SendNotification(0, midi::kMimOpen, 0);
  rig.ports.SendShort(0, {0xF8});
  rig.ports.SendShort(0, {0xFE});
  rig.ports.SendShort(0, {0x90, 0x3C, 0x7F});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  rig.Drain();
  EXPECT_EQ(rig.tTraffic.Text(), "00 FE 90 ");
  EXPECT_EQ(rig.parse.BytesFed(), 0u);  // short messages never reach the parser
}

TEST(ReceiveLoop, ABufferReturnedEmptyGivesTheSingleByteF0) {
  Rig rig;
  midi::MidiHdr* h = rig.pool.Header(2);
  h->dwBytesRecorded = 0;
  rig.rings.LongDataRing.Push(h);
  rig.Drain();
  EXPECT_EQ(rig.tTraffic.Text(), "F0 ");
  EXPECT_EQ(rig.parse.BytesFed(), 1u);
}

TEST(ReceiveLoop, AnImpossibleByteCountIsReportedAndGivesNoBytes) {
  Rig rig;
  rig.ports.SendSysex(0, {0xF0, 0x41, 0xF7});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  midi::MidiHdr* h = nullptr;
  ASSERT_TRUE(rig.rings.LongDataRing.Pop(h));
  h->dwBytesRecorded = 16385;
  rig.rings.LongDataRing.Push(h);
  rig.Drain();
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{"Illegal 16385 Received?!?"}));
  EXPECT_EQ(rig.tTraffic.Text(), "");
  EXPECT_EQ(rig.ports.QueuedBuffers(0), 4u);  // recycled all the same
}

TEST(ReceiveLoop, OnePassMovesAtMostOneByteAndWaitsOnlyWhenIdle) {
  Rig rig;
  rig.ports.SendSysex(0, {0xF0, 0x01, 0x02, 0xF7});
  ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  EXPECT_EQ(rig.loop.RunPass(), app::ReceiveLoop::Pass::Worked);
  EXPECT_EQ(rig.tTraffic.Text(), "F0 ");
  EXPECT_EQ(rig.loop.ReceivedQueue().size(), 3u);
  rig.flags.QuitRequested = true;
  rig.loop.Run();
  EXPECT_EQ(rig.idle.waits, 0);
  rig.flags.QuitRequested = false;
  rig.Drain();
  EXPECT_EQ(rig.tTraffic.Text(), "F0 01 02 F7 ");
  EXPECT_EQ(rig.loop.RunPass(), app::ReceiveLoop::Pass::Idle);
}

// A generated dump delivered in batches while the loop's event pumping runs handlers
// that switch the input port back and forth, inside unpacks too: the output log must
// hold every byte, less 0xFE, in order, and the pool must end with all four buffers
// queued once on the port selected last.
TEST(ReceiveLoop, ADumpArrivesWholeWhileHandlersSwitchPorts) {
  Rig rig(2);
  dumpgen::DumpOptions options;
  options.slotCount = 12;
  const Bytes dump = dumpgen::GenerateDump(options);
  Bytes expected;
  std::vector<Bytes> units;  // each SysEx message, and each 0xFE on its own
  for (std::size_t i = 0; i < dump.size();) {
    std::size_t end = i + 1;
    if (dump[i] == 0xF0) {
      while (end < dump.size() && dump[end - 1] != 0xF7) ++end;
    }
    units.emplace_back(dump.begin() + static_cast<long>(i), dump.begin() + static_cast<long>(end));
    i = end;
  }
  for (std::uint8_t b : dump) {
    if (b != 0xFE) expected.push_back(b);
  }

  std::mt19937 random(303);
  long pumps = 0;
  int switches = 0;
  rig.pump.onPump = [&] {
    if (++pumps % 997 == 0) {
      rig.selection.SelectInput(static_cast<int>(random() % 2));
      ++switches;
    }
  };
  std::size_t next = 0;
  while (next < units.size() || rig.loop.RunPass() == app::ReceiveLoop::Pass::Worked) {
    if (rig.loop.RunPass() != app::ReceiveLoop::Pass::Idle) continue;
    // Idle: every buffer is back on the selected port. At most four messages at once,
    // so no port is left holding bytes when a handler switches away from it.
    ASSERT_TRUE(rig.ports.WaitUntilDelivered());
    for (int messages = 0; next < units.size() && messages < 1 + static_cast<int>(random() % 4); ++next) {
      if (units[next][0] == 0xF0) {
        rig.ports.SendSysex(rig.devices.SelectedInput, units[next]);
        ++messages;
      } else {
        rig.ports.SendShort(rig.devices.SelectedInput, units[next]);
      }
    }
    ASSERT_TRUE(rig.ports.WaitUntilDelivered());
  }
  rig.parse.CloseOutfile();
  EXPECT_GT(switches, 10);
  EXPECT_EQ(rig.log.Bytes(), expected);
  EXPECT_EQ(rig.ports.QueuedBuffers(rig.devices.SelectedInput), 4u);
  EXPECT_EQ(rig.ports.QueuedBuffers(1 - rig.devices.SelectedInput), 0u);
}

TEST(AppendTraffic, KeepsTheLastHalfWhenTheNextEntryWouldNotFit) {
  ui::TextBox box(174);
  std::string all;
  for (int i = 0; i < 58; ++i) {
    ui::AppendTraffic(box, "AB ");
    all += "AB ";
  }
  EXPECT_EQ(box.Text(), all);  // 58 bytes: 174 characters, exactly full
  ui::AppendTraffic(box, "CD ");
  EXPECT_EQ(box.Text(), all.substr(174 - 87) + "CD ");
}

class KeepLength : public ::testing::TestWithParam<std::pair<int, int>> {};
TEST_P(KeepLength, RoundsHalvesToEven) { EXPECT_EQ(ui::TrafficKeepLength(GetParam().first), GetParam().second); }
// 174/2 = 87; 175/2 = 87.5 -> 88; 173/2 = 86.5 -> 86; 3/2 = 1.5 -> 2.
INSTANTIATE_TEST_SUITE_P(AppendTraffic, KeepLength,
                         ::testing::Values(std::make_pair(174, 87), std::make_pair(175, 88),
                                           std::make_pair(173, 86), std::make_pair(3, 2)));

TEST(CaptureEnd, TheIdleTimeoutCountsFromTheLastByteAndOnlyAfterTheFirst) {
  using namespace std::chrono;
  const steady_clock::time_point t0{};
  cli::CaptureEnd end(milliseconds(3000));
  EXPECT_FALSE(end.Reached(0, t0 + seconds(100), false));  // nothing yet: wait for the dump
  EXPECT_FALSE(end.Reached(10, t0 + seconds(101), false));
  EXPECT_FALSE(end.Reached(10, t0 + milliseconds(103999), false));
  EXPECT_FALSE(end.Reached(20, t0 + seconds(104), false));  // a new byte restarts the wait
  EXPECT_TRUE(end.Reached(20, t0 + seconds(107), false));
  cli::CaptureEnd untimed(std::nullopt);
  EXPECT_FALSE(untimed.Reached(20, t0 + hours(1), false));
  EXPECT_TRUE(untimed.Reached(20, t0, true));
}

}  // namespace

namespace {

TEST(Capture, NothingReceivedSavesNothingAndSaysSo) {
  FakeMidiPorts ports;
  ports.AddSlot("Groovebox In", "Groovebox Out");
  const std::atomic<bool> stop{true};  // Ctrl-C before any byte
  cli::CaptureOptions options;
  options.port = "GROOVE";
  options.overall = (std::filesystem::temp_directory_path() / "vz-never-written").string();
  std::ostringstream out, err;
  ports.SendShort(0, {0xFE});  // active sensing alone records nothing
  EXPECT_EQ(cli::RunCapture(options, ports, stop, {}, out, err), 1);
  EXPECT_NE(err.str().find("Recording from input slot 0 (Groovebox In)"), std::string::npos);
  EXPECT_NE(err.str().find("No data has been stored in the buffer yet.\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(options.overall + ".SYX"));
  EXPECT_FALSE(ports.InputOpen(0));
}

}  // namespace

namespace {

TEST(Capture, ADeviceThatWentAwayIsSaidAndWhatCameBeforeIsSaved) {
  FakeMidiPorts ports;
  ports.AddSlot("Groovebox In", "Groovebox Out");
  const std::uint8_t address[4] = {0x40, 0, 0, 0};
  const std::vector<std::uint8_t> message = dumpgen::DataSetMessage(0x10, address, {1, 2, 3});
  ports.SendSysex(0, message);
  ports.goneSources = {0};  // unplugged after its first message
  const std::atomic<bool> stop{false};
  cli::CaptureOptions options;
  options.idleTimeoutSeconds = 0.2;  // ends the capture once the message is in
  const std::filesystem::path dir = FreshDir("capture-device-gone");
  options.overall = (dir / "OUT").string();
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunCapture(options, ports, stop, {}, out, err), 0);
  EXPECT_NE(err.str().find("warning: the input port Groovebox In went away during the capture; what arrived before "
                           "it went is saved\n"),
            std::string::npos)
      << err.str();
  std::vector<std::uint8_t> saved;
  EXPECT_FALSE(mc303::ReadWholeFile(dir / "OUT.SYX", saved).has_value());
  EXPECT_EQ(saved, message);
  std::filesystem::remove_all(dir);
}

}  // namespace
