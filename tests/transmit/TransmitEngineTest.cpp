// The transmit engine on the fake MIDI layer, real files in a fresh folder, and Timer3
// on a fake clock that moves only while the engine waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DumpGenerator.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "filelist/FileList.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"
#include "transmit/TransmitEngine.h"

namespace {

namespace fs = std::filesystem;

// A message of exactly n bytes: F0, n - 2 data bytes, F7.
Bytes Msg(std::size_t n) {
  Bytes b(n, 0x11);
  b.front() = 0xF0;
  b.back() = 0xF7;
  return b;
}
Bytes Times(int count, const Bytes& b) {
  Bytes out;
  for (int i = 0; i < count; ++i) out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Timer3 and the event pump on a fake millisecond clock: a tick every tickMs while
// switched on, the first tickMs after switching on; time passes only in WaitForEvents.
// The countdown reads the clock in 32 bits, as the window does, so it wraps round.
class FakeTimer3 final : public ui::EventPump, public transmit::PaceTimer {
 public:
  explicit FakeTimer3(transmit::PacingCountdown& countdown) : countdown_(countdown) {}
  void SwitchOn() override {
    if (on_) return;
    on_ = true;
    next_ = now + tickMs;
  }
  void PumpEvents() override {
    if (onPump) onPump();
    if (on_ && now >= next_) {
      countdown_.Tick(static_cast<std::uint32_t>(now));
      next_ = now + tickMs;
      if (countdown_.Idle()) on_ = false;
    }
  }
  void WaitForEvents() override {
    now = on_ ? std::max(now, next_) : now + tickMs;
    PumpEvents();
  }
  std::uint64_t now = 50000;
  std::uint64_t tickMs = 1;
  std::function<void()> onPump;

 private:
  transmit::PacingCountdown& countdown_;
  bool on_ = false;
  std::uint64_t next_ = 0;
};

class RecordingSplash final : public ui::ProgressWindow {
 public:
  void SetCaption(const std::string& c) override { caption = c; }
  void Show() override {
    shown = true;
    if (caption == "Sending...") ++sendingShows;
  }
  void Hide() override { shown = false; }
  std::string caption;
  bool shown = false;
  int sendingShows = 0;
};

struct Block {
  int bytes;
  bool paced;
  bool operator==(const Block&) const = default;
};
void PrintTo(const Block& b, std::ostream* os) { *os << b.bytes << (b.paced ? "p" : "e"); }

class TransmitTest : public testing::Test {
 protected:
  TransmitTest() : dir_(FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name())) {
    ports.AddSlot("", "Out A");
    midi::PortHandle out = 0;
    (void)ports.OutOpen(&out, 0);
    devices.DeviceSlotCount = 1;
    devices.SelectedOutput = 0;
    devices.OutputHandles[0] = out;
    engine.SetHandOverObserver([this](const transmit::HandOver& h) {
      handOverMs.push_back(timer3.now);
      if (h.result == midi::kNoError) blocks.push_back({h.bytes, h.paced});
    });
  }
  ~TransmitTest() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  // Lists the files, each followed by a line break.
  void List(const std::vector<Bytes>& files) {
    std::string text;
    for (std::size_t i = 0; i < files.size(); ++i) text += File("f" + std::to_string(i) + ".syx", files[i]) + "\r\n";
    tFiles.SetText(text);
  }
  Bytes Sent() const {
    Bytes all;
    for (const auto& m : ports.OutputMessages()) all.insert(all.end(), m.bytes.begin(), m.bytes.end());
    return all;
  }
  bool Unprepared() const {
    const auto calls = ports.Calls();
    return std::find(calls.begin(), calls.end(), "OutUnprepareHeader 0") != calls.end();
  }

  fs::path dir_;
  mc303::SharedFlags flags;
  ui::TextBox tFiles{8192}, tPieces{16384}, tDev{1024}, tTraffic{174};
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  transmit::PacingCountdown countdown;
  FakeTimer3 timer3{countdown};
  mc303::MC303Parse parse{flags, tPieces, tDev, timer3, dialogs, log};
  RecordingSplash splash;
  filelist::FileList list{flags, tFiles, parse, timer3, dialogs, splash};
  FakeMidiPorts ports;
  midi::DeviceState devices;
  midi::HeapBlockAllocator heap;
  std::int32_t bufferSize = 139;
  int reloads = 0;
  transmit::TransmitEngine engine{{flags, parse, tFiles, tDev, tTraffic, ports, devices, heap, dialogs, timer3, splash,
                                   countdown, timer3, bufferSize, [this] {
                                     ++reloads;
                                     return list.ReloadFileList();
                                   }}};
  std::vector<Block> blocks;
  std::vector<std::uint64_t> handOverMs;
};

struct Cutting {
  std::string name;
  std::int32_t bufferSize;
  std::vector<Bytes> files;
  std::vector<Block> blocks;  // p: paced, e: the rest at the end of a file
  transmit::SendEnd end = transmit::SendEnd::Finished;
};

void PrintTo(const Cutting& c, std::ostream* os) { *os << c.name; }

class BlockCutting : public TransmitTest, public testing::WithParamInterface<Cutting> {};

TEST_P(BlockCutting, BlocksEndAtTheFirstF7PastTheSizeAndCarryTailsOn) {
  const Cutting& c = GetParam();
  bufferSize = c.bufferSize;
  List(c.files);
  EXPECT_EQ(engine.Send(), c.end);

  EXPECT_EQ(blocks, c.blocks);
  Bytes all;
  for (const Bytes& f : c.files) all.insert(all.end(), f.begin(), f.end());
  const Bytes sent = Sent();
  ASSERT_LE(sent.size(), all.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), all.begin())) << "the files' bytes, unchanged and in order";
  EXPECT_FALSE(flags.RecordingActive);
  EXPECT_FALSE(parse.Log().Suppressed);
  EXPECT_TRUE(Unprepared());
  if (c.end == transmit::SendEnd::BlockTooLong) {
    EXPECT_EQ(dialogs.Texts().back(), transmit::kBlockTooLong);
    EXPECT_EQ(reloads, 0);
  } else {
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{transmit::kSendPrompt});
    EXPECT_EQ(reloads, 1);
  }
}

const Block P(int n) { return {n, true}; }
const Block E(int n) { return {n, false}; }
const Bytes kTail = {0xF0, 0x01, 0x02};

INSTANTIATE_TEST_SUITE_P(
    Engine, BlockCutting,
    testing::Values(
        Cutting{"MessagesLongerThanTheSizeGoAlone", 139, {Times(3, Msg(150))}, {P(150), P(150), P(150)}},
        // 50 + 50 + 50 = 150 > 139; the seventh message ends the file with 50 <= 139.
        Cutting{"ShortMessagesGoInThrees", 139, {Times(7, Msg(50))}, {P(150), P(150), E(50)}},
        Cutting{"SizeZeroSendsEveryMessageAlone", 0, {Cat({Msg(10), Msg(2), Msg(10)})}, {P(10), P(2), P(10)}},
        Cutting{"ANegativeSizeSendsEveryMessageAlone", -7, {Cat({Msg(10), Msg(2), Msg(10)})}, {P(10), P(2), P(10)}},
        // 4 x 300 = 1200 is the first end past 1024.
        Cutting{"Size1024", 1024, {Times(5, Msg(300))}, {P(1200), E(300)}},
        // Four messages make exactly 16384, not more than the size; the 16385th byte stops.
        Cutting{"ASizeOf16384NeverHandsOver", 16384, {Times(5, Msg(4096))}, {}, transmit::SendEnd::BlockTooLong},
        // The tail F0 01 02 waits for 03 F7 of the next file: 3 + 2 + 150 = 155.
        Cutting{"ATailGoesInFrontOfTheNextFile", 139, {Cat({Msg(150), kTail}), Cat({{0x03, 0xF7}, Msg(150)})},
                {P(150), P(155)}},
        Cutting{"ATailAfterTheLastFileStays", 139, {Cat({Msg(150), kTail})}, {P(150)}},
        Cutting{"AFileWithoutF7PrefixesTheNext", 139, {Bytes(100, 0x22), Msg(50)}, {P(150)}},
        Cutting{"AStreamWithoutF7StopsAtItsByte16385", 139, {Bytes(10, 0x22), Bytes(16375, 0x22)}, {},
                transmit::SendEnd::BlockTooLong},
        Cutting{"AFileEndingInF7GoesAtOnce", 139, {Msg(100), Msg(100)}, {E(100), E(100)}}),
    [](const testing::TestParamInfo<Cutting>& p) { return p.param.name; });

struct Pause {
  std::uint64_t tickMs, startMs, fromIdleMs, reArmedMs;
};
std::string PauseName(const testing::TestParamInfo<Pause>& p) {
  return "Ticks" + std::to_string(p.param.tickMs) + "Ms" + (p.param.startMs > 0xFFFF0000u ? "AcrossTheWrap" : "");
}
void PrintTo(const Pause& p, std::ostream* os) { *os << PauseName({p, 0}); }
class Pacing : public TransmitTest, public testing::WithParamInterface<Pause> {};

TEST_P(Pacing, PacedBlocksGoAtLeast200MsApartAndTheRestOfAFileAtOnce) {
  timer3.tickMs = GetParam().tickMs;
  timer3.now = GetParam().startMs;
  List({Times(2, Msg(150)), Msg(50)});
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);
  ASSERT_EQ(blocks, (std::vector<Block>{P(150), P(150), E(50)}));
  EXPECT_EQ(handOverMs[1] - handOverMs[0], GetParam().fromIdleMs);
  EXPECT_EQ(handOverMs[2] - handOverMs[1], GetParam().reArmedMs) << "the rest waits only for the pause before it";
  EXPECT_EQ(timer3.now, handOverMs[2]) << "no pause after the rest of a file";
  EXPECT_EQ(splash.sendingShows, 2);
  EXPECT_FALSE(splash.shown);
}

// From idle the first tick comes one interval after the hand-over and takes 1 off, then
// the countdown runs out at the first tick 199 ms or more later: 1 + 199 = 200,
// 10 + 200 = 210 (the 21st tick), 16 + 208 = 224. Re-armed at once after running out,
// its first tick already counts the full interval: 200 x 1, 20 x 10, 13 x 16 = 208.
// The clock wraps round at 2^32 during the second countdown of the last case.
INSTANTIATE_TEST_SUITE_P(Engine, Pacing,
                         testing::Values(Pause{1, 50000, 200, 200}, Pause{10, 50000, 210, 200},
                                         Pause{16, 50000, 224, 208}, Pause{10, 0xFFFFFF00u, 210, 200}),
                         PauseName);

enum class During { AbortYes, AbortNo, Quit };

class Interrupted : public TransmitTest, public testing::WithParamInterface<During> {};

TEST_P(Interrupted, AbortStopsAfterThePauseAndQuitAtOnce) {
  List({Times(3, Msg(150)), Msg(150)});
  timer3.onPump = [&] {
    // While the second block is handed over.
    if (!splash.shown || splash.caption != "Sending..." || splash.sendingShows != 2) return;
    if (GetParam() == During::AbortYes) flags.AbortRequested = true;
    if (GetParam() == During::Quit) flags.QuitRequested = true;
  };
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);

  if (GetParam() == During::AbortNo) {
    EXPECT_EQ(blocks.size(), 4u);
  } else {
    EXPECT_EQ(blocks.size(), 2u) << "the block being handed over still goes, no later byte is read";
    EXPECT_EQ(Sent(), Times(2, Msg(150)));
    EXPECT_EQ(timer3.now - handOverMs[1], GetParam() == During::AbortYes ? 200u : 0u)
        << "after an abort the pause still runs; a quit ends it";
  }
  EXPECT_TRUE(Unprepared());
  EXPECT_EQ(reloads, 1);
}

std::string DuringName(const testing::TestParamInfo<During>& p) {
  const char* names[] = {"AbortYes", "AbortNo", "Quit"};
  return names[static_cast<int>(p.param)];
}
void PrintTo(During d, std::ostream* os) { *os << DuringName({d, 0}); }

INSTANTIATE_TEST_SUITE_P(Engine, Interrupted, testing::Values(During::AbortYes, During::AbortNo, During::Quit),
                         DuringName);

TEST_F(TransmitTest, NamesAreFoundAsTheReloadFindsThemAndAnUnopenableOneIsSkipped) {
  const std::string a = File("a.syx", Msg(150)), b = File("b.syx", Msg(160)), c = File("c.syx", Msg(170));
  const std::string gone = (dir_ / "gone.syx").string();
  const std::string noFolder = (dir_ / "no-such-folder" / "x.syx").string();
  // Leading and doubled line breaks are blank lines; the last name has no line break.
  tFiles.SetText("\r\n" + a + "\r\n\r\n" + gone + "\n" + noFolder + "\r\n" + b + "\r\n" + c);
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);

  EXPECT_EQ(Sent(), Cat({Msg(150), Msg(160)}));
  // The Send goes on past it; the reload at the end fails on it and empties the list.
  const std::string error = "Error opening file " + noFolder;
  EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{transmit::kSendPrompt, error, error}));
  EXPECT_EQ(tFiles.Text(), "");
  EXPECT_EQ(engine.FilesNotOpened(), 1);
  EXPECT_TRUE(fs::exists(gone) && fs::file_size(gone) == 0) << "a listed name that is gone reads as empty";
  EXPECT_FALSE(fs::exists("\r") || fs::exists("\n")) << "no file is made of a blank line";
}

TEST_F(TransmitTest, AFileThatOpensButCannotBeReadIsSaidAndTheNextOneIsSent) {
  // /proc/self/mem opens for anyone, root included, and its first read fails (EIO):
  // a listed file on a failing disk, as far as the engine can tell.
  const fs::path unreadable = dir_ / "unreadable.syx";
  fs::create_symlink("/proc/self/mem", unreadable);
  const std::string a = File("a.syx", Msg(150));
  tFiles.SetText(unreadable.string() + "\r\n" + a + "\r\n");
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);

  EXPECT_EQ(Sent(), Msg(150));
  const std::string error = "Error reading file " + unreadable.string();
  // Then the reload at the end fails on it as well, and empties the list.
  EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{transmit::kSendPrompt, error, error}));
  EXPECT_EQ(engine.FilesNotOpened(), 1) << "the command line's send exits with an error on it";
}

struct Failure {
  std::string name;
  std::function<void(FakeMidiPorts&)> inject;
  std::vector<std::string> messages;  // after the prompt
  transmit::SendEnd end;
  int blocksSent;
  int reloads;
};

void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

class Failures : public TransmitTest, public testing::WithParamInterface<Failure> {};

TEST_P(Failures, ShowTheirMessageAndEndAsTheyMust) {
  const Failure& f = GetParam();
  ports.errorTexts[midi::kErrNotReady] = "busy";
  f.inject(ports);
  List({Msg(150), Msg(150), Msg(100)});
  EXPECT_EQ(engine.Send(), f.end);

  std::vector<std::string> expected{transmit::kSendPrompt};
  expected.insert(expected.end(), f.messages.begin(), f.messages.end());
  EXPECT_EQ(dialogs.Texts(), expected);
  EXPECT_EQ(static_cast<int>(blocks.size()), f.blocksSent);
  EXPECT_EQ(reloads, f.reloads);
  EXPECT_FALSE(flags.RecordingActive);
  EXPECT_FALSE(parse.Log().Suppressed);
  EXPECT_TRUE(Unprepared()) << "early ends give the header back too, quietly";
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Failures,
    testing::Values(
        Failure{"APacedHandOver", [](FakeMidiPorts& p) { p.outLongMsgResults = {0, midi::kErrNotReady}; },
                {"midiOutLongMsg: busy"}, transmit::SendEnd::HandOverFailed, 1, 1},
        Failure{"TheRestOfAFile", [](FakeMidiPorts& p) { p.outLongMsgResults = {0, 0, midi::kErrNotReady}; },
                {"midiOutLongMsg: busy"}, transmit::SendEnd::RestFailed, 2, 0},
        Failure{"UnpreparingTheHeader", [](FakeMidiPorts& p) { p.outUnprepareResult = midi::kErrNotReady; },
                {"midiOutUnprepareHeader: busy"}, transmit::SendEnd::Finished, 3, 1}),
    [](const testing::TestParamInfo<Failure>& p) { return p.param.name; });

TEST_F(TransmitTest, ASecondSendWhileOneRunsIsRefusedAndTheFirstGoesOnUntouched) {
  List({Times(3, Msg(150))});
  std::vector<transmit::SendEnd> nested;
  timer3.onPump = [&] {
    if (nested.empty() && engine.Busy()) nested.push_back(engine.Send());
  };
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);
  EXPECT_EQ(nested, std::vector<transmit::SendEnd>{transmit::SendEnd::AlreadySending});
  EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{transmit::kSendPrompt, transmit::kStillSending}));
  EXPECT_EQ(Sent(), Times(3, Msg(150)));
  EXPECT_FALSE(engine.Busy());
  EXPECT_FALSE(engine.RefuseWhileSending());
}

TEST_F(TransmitTest, ASendDuringACaptureIsRefusedAndLeavesTheCapturedPiecesAlone) {
  List({Msg(150)});
  flags.RecordingActive = true;  // Start was pressed
  tPieces.SetText("U01\r\n");
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Recording);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{transmit::kNotWhileRecording});
  EXPECT_EQ(tPieces.Text(), "U01\r\n");
  EXPECT_TRUE(flags.RecordingActive);
  EXPECT_TRUE(ports.OutputMessages().empty());
}

TEST_F(TransmitTest, WhatIsSentIsShownAndParsedButNotLoggedAndTheListIsReadAgain) {
  const std::uint8_t address[4] = {0x40, 0, 0, 0};  // pattern data of U01
  List({dumpgen::DataSetMessage(0x10, address, Bytes(150, 0x05))});
  tDev.SetText("PRESS START");
  engine.SetHandOverObserver([&](const transmit::HandOver&) {
    EXPECT_TRUE(log.Bytes().empty()) << "nothing of a Send is logged";
    EXPECT_EQ(tDev.Text().rfind("40000000 ", 0), 0u) << "the report box starts afresh: " << tDev.Text();
    EXPECT_EQ(tTraffic.Text().substr(tTraffic.Text().size() - 3), "F7 ");
  });
  EXPECT_EQ(engine.Send(), transmit::SendEnd::Finished);
  EXPECT_EQ(tPieces.Text(), "U01 Missing Settings\r\n") << "rebuilt by the reload";
  EXPECT_FALSE(log.Bytes().empty()) << "the reload logs the list";
}

}  // namespace
