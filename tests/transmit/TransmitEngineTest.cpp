// The transmit engine on the fake MIDI layer, real files in a fresh folder, and Timer3
// on a fake clock that moves only while the engine waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DumpGenerator.h"
#include "fakes/FakeMidiPorts.h"
#include "filelist/FileList.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"
#include "transmit/TransmitEngine.h"

namespace {

namespace fs = std::filesystem;
using transmit::SendEnd;
using Strings = std::vector<std::string>;

Bytes Times(int count, const Bytes& b) {
  Bytes out;
  for (int i = 0; i < count; ++i) out.insert(out.end(), b.begin(), b.end());
  return out;
}

// Timer3 and the event pump on a fake millisecond clock: a tick every tickMs while
// switched on, the first tickMs after switching on; time passes only in WaitForEvents.
// The countdown reads the clock in 32 bits, as the window does, so it wraps round.
class FakeTimer3 final : public roles::EventPump, public roles::Timer3 {
 public:
  explicit FakeTimer3(transmit::PacingCountdown& countdown) : countdown_(countdown) {}
  void SwitchOn() override {
    if (!on_) next_ = now + tickMs;
    on_ = true;
  }
  void PumpEvents() override {
    if (onPump) onPump();
    if (!on_ || now < next_) return;
    countdown_.Tick(static_cast<std::uint32_t>(now));
    next_ = now + tickMs;
    on_ = !countdown_.Idle();
  }
  void WaitForEvents() override {
    now = on_ ? std::max(now, next_) : now + tickMs;
    PumpEvents();
  }
  std::uint64_t now = 50000, tickMs = 1;
  std::function<void()> onPump;

 private:
  transmit::PacingCountdown& countdown_;
  bool on_ = false;
  std::uint64_t next_ = 0;
};

struct Block {
  int bytes;
  bool paced, endOfFile;
  bool operator==(const Block&) const = default;
};
void PrintTo(const Block& b, std::ostream* os) { *os << b.bytes << (b.paced ? "p" : "") << (b.endOfFile ? "e" : ""); }
Block P(int n) { return {n, true, false}; }
Block R(int n) { return {n, true, true}; }    // the rest of a file another follows
Block E(int n) { return {n, false, true}; }   // the rest of the last file

// What the engine made the progress window do: "show", "hide", or the bytes handed over
// and the seconds left.
class SplashLog final : public roles::ProgressWindow {
 public:
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void Show() override { log.push_back("show"); }
  void Hide() override { log.push_back("hide"); }
  void SetProgress(std::int64_t done, std::int64_t total, std::int64_t seconds) override {
    log.push_back(std::to_string(done) + "/" + std::to_string(total) + " " + std::to_string(seconds) + "s");
  }
  Strings captions, log;
};

class TransmitTest : public testing::Test {
 protected:
  TransmitTest() {
    ports.AddSlot("", "Out A");
    (void)ports.OutOpen(&devices.OutputHandles[0], 0);
    devices.DeviceSlotCount = 1;
    devices.SelectedOutput = 0;
    engine.SetHandOverObserver([this](const transmit::HandOver& h) {
      handOverMs.push_back(timer3.now);
      if (h.result == midi::kNoError) blocks.push_back({h.bytes, h.paced, h.endOfFile});
      if (onHandOver) onHandOver();
    });
  }
  ~TransmitTest() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
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
  // Every Send, however it ends, leaves its sending phase.
  void ExpectSendingPhaseLeft() const {
    EXPECT_FALSE(flags.RecordingActive);
    EXPECT_FALSE(parse.Log().Suppressed);
  }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  mc303::SharedFlags flags;
  roles::TextBox tFiles{8192}, tPieces{16384}, tDev{1024}, tTraffic{174};
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  transmit::PacingCountdown countdown;
  FakeTimer3 timer3{countdown};
  mc303::MC303Parse parse{flags, tPieces, tDev, timer3, dialogs, log};
  SplashLog splash;
  roles::NoProgressWindow loading;
  filelist::FileList list{flags, tFiles, parse, timer3, dialogs, loading};
  FakeMidiPorts ports;
  midi::DeviceState devices;
  std::int32_t bufferSize = 139;
  int reloads = 0;
  transmit::TransmitEngine engine{{flags, parse, tFiles, tDev, tTraffic, ports, devices, dialogs, timer3, splash,
                                   countdown, timer3, bufferSize, [this] {
                                     ++reloads;
                                     return list.ReloadFileList();
                                   }}};
  std::vector<Block> blocks;
  std::vector<std::uint64_t> handOverMs;
  std::function<void()> onHandOver;
};

struct Cutting {
  std::string name;
  std::int32_t bufferSize;
  std::vector<Bytes> files;
  std::vector<Block> blocks;
  SendEnd end = SendEnd::Finished;
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
  ExpectSendingPhaseLeft();
  const bool tooLong = c.end == SendEnd::BlockTooLong;
  Strings shown{transmit::kSendPrompt};
  if (tooLong) shown.push_back(transmit::kBlockTooLong);
  EXPECT_EQ(dialogs.Texts(), shown);
  EXPECT_EQ(reloads, tooLong ? 0 : 1);
}

const Bytes kTail = {0xF0, 0x01, 0x02};
INSTANTIATE_TEST_SUITE_P(
    Engine, BlockCutting,
    testing::Values(
        Cutting{"MessagesLongerThanTheSizeGoAlone", 139, {Times(3, Sysex(150))}, {P(150), P(150), P(150)}},
        // 50 + 50 + 50 = 150 > 139; the seventh message ends the file with 50 <= 139.
        Cutting{"ShortMessagesGoInThrees", 139, {Times(7, Sysex(50))}, {P(150), P(150), E(50)}},
        Cutting{"SizeZeroSendsEveryMessageAlone", 0, {Cat({Sysex(10), Sysex(2), Sysex(10)})}, {P(10), P(2), P(10)}},
        Cutting{"ANegativeSizeSendsEveryMessageAlone", -7, {Cat({Sysex(10), Sysex(2), Sysex(10)})}, {P(10), P(2), P(10)}},
        // Four messages make exactly 16384, not more than the size; the 16385th byte stops.
        Cutting{"ASizeOf16384NeverHandsOver", 16384, {Times(5, Sysex(4096))}, {}, SendEnd::BlockTooLong},
        // The tail F0 01 02 waits for 03 F7 of the next file: 3 + 2 + 150 = 155.
        Cutting{"ATailGoesInFrontOfTheNextFile", 139, {Cat({Sysex(150), kTail}), Cat({{0x03, 0xF7}, Sysex(150)})},
                {P(150), P(155)}},
        Cutting{"ATailAfterTheLastFileStays", 139, {Cat({Sysex(150), kTail})}, {P(150)}},
        Cutting{"AStreamWithoutF7StopsAtItsByte16385", 139, {Bytes(10, 0x22), Bytes(16375, 0x22)}, {},
                SendEnd::BlockTooLong}),
    [](const testing::TestParamInfo<Cutting>& p) { return p.param.name; });

struct Pause {
  std::uint64_t tickMs, startMs, fromIdleMs, reArmedMs;
};
std::string PauseName(const testing::TestParamInfo<Pause>& p) {
  return "Ticks" + std::to_string(p.param.tickMs) + "Ms" + (p.param.startMs > 0xFFFF0000u ? "AcrossTheWrap" : "");
}
class Pacing : public TransmitTest, public testing::WithParamInterface<Pause> {};

TEST_P(Pacing, PacedBlocksAndRestsGoAtLeast200MsApartUnderTheProgressWindowAndTheLastRestAtOnce) {
  timer3.tickMs = GetParam().tickMs;
  timer3.now = GetParam().startMs;
  List({Times(2, Sysex(150)), Sysex(50), Sysex(50)});
  EXPECT_EQ(engine.Send(), SendEnd::Finished);
  ASSERT_EQ(blocks, (std::vector<Block>{P(150), P(150), R(50), E(50)}));
  EXPECT_EQ(handOverMs[1] - handOverMs[0], GetParam().fromIdleMs);
  EXPECT_EQ(handOverMs[2] - handOverMs[1], GetParam().reArmedMs) << "a rest waits for the pause before it";
  EXPECT_EQ(handOverMs[3] - handOverMs[2], GetParam().reArmedMs) << "and is followed by one unless its file is last";
  EXPECT_EQ(timer3.now, handOverMs[3]) << "no pause after the last file's rest";
  // Up from the first paced block to the end: the bytes handed over of the 400 listed,
  // and the seconds left for blocks of the average size so far, 200 ms each.
  EXPECT_EQ(splash.captions, Strings{transmit::kSendingCaption});
  EXPECT_EQ(splash.log, (Strings{"show", "150/400 1s", "300/400 1s", "350/400 1s", "400/400 0s", "hide"}));
}

// From idle the first tick comes one interval after the hand-over and takes 1 off, then
// the countdown runs out at the first tick 199 ms or more later: 1 + 199 = 200,
// 16 + 208 = 224. Re-armed at once after running out, its first tick already counts
// the full interval: 200 x 1, 13 x 16 = 208. The clock wraps round at 2^32 during the
// second countdown of the last case: 10 + 200 = 210, then 20 x 10 = 200.
INSTANTIATE_TEST_SUITE_P(Engine, Pacing,
                         testing::Values(Pause{1, 50000, 200, 200}, Pause{16, 50000, 224, 208},
                                         Pause{10, 0xFFFFFF00u, 210, 200}),
                         PauseName);

// An abort (Yes in the progress window) or a quit as the second block is handed over,
// or an abort while its last byte is shown: the window stays up between blocks.
struct Interruption {
  const char* name;
  bool quit, whileRead;
  int blocksSent;
  std::uint64_t pauseAfterLast;
};
void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }
class Interrupted : public TransmitTest, public testing::WithParamInterface<Interruption> {};

TEST_P(Interrupted, AbortStopsAfterThePauseAndQuitAtOnce) {
  const Interruption& i = GetParam();
  List({Times(3, Sysex(150)), Sysex(150)});
  bool& flag = i.quit ? flags.QuitRequested : flags.AbortRequested;
  onHandOver = [&] {
    if (!i.whileRead && blocks.size() == 2) flag = true;
  };
  timer3.onPump = [&] {
    if (i.whileRead && blocks.size() == 1 && engine.BlockCount() == 149) flag = true;
  };
  EXPECT_EQ(engine.Send(), SendEnd::Finished);
  EXPECT_EQ(Sent(), Times(i.blocksSent, Sysex(150))) << "the block being handed over still goes, no later byte is read";
  EXPECT_EQ(timer3.now - handOverMs.back(), i.pauseAfterLast) << "after an abort the pause still runs; a quit ends it";
  ExpectSendingPhaseLeft();
  EXPECT_EQ(reloads, 1);
}
INSTANTIATE_TEST_SUITE_P(Engine, Interrupted,
                         testing::Values(Interruption{"Abort", false, false, 2, 200},
                                         Interruption{"Quit", true, false, 2, 0},
                                         Interruption{"AbortWhileABlockIsRead", false, true, 1, 200}),
                         [](const testing::TestParamInfo<Interruption>& p) { return std::string(p.param.name); });

// From now on the file of this name reads as on a failing disk: the descriptor it is
// open on is replaced by one of /proc/self/mem, whose reads fail (EIO) even for root.
void FailReadsOf(const fs::path& file) {
  for (const fs::directory_entry& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(e.path(), error) != file) continue;
    const int failing = ::open("/proc/self/mem", O_RDONLY);
    ASSERT_GE(failing, 0);
    ASSERT_GE(::dup2(failing, std::stoi(e.path().filename().string())), 0);
    ::close(failing);
    return;
  }
  FAIL() << file << " is not open";
}

TEST_F(TransmitTest, NamesAreFoundAsTheReloadFindsThemAndAFileThatFailsIsSaidAndNothingOfItGoesAfter) {
  const std::string a = File("a.syx", Sysex(150)), b = File("b.syx", Sysex(160)), c = File("c.syx", Sysex(170));
  const std::string noFolder = (dir_ / "no-such-folder" / "x.syx").string();
  // The first read takes 4096 bytes: 21 blocks of three messages and one message more,
  // which must not go out once the next read has failed.
  const std::string failing = File("failing.syx", Times(80, Sysex(64)));
  onHandOver = [&] {
    if (blocks.size() == 2) FailReadsOf(failing);
  };
  // Leading and doubled line breaks are blank lines; the last name has no line break.
  const std::string listed = "\r\n" + a + "\r\n\r\n" + failing + "\n" + noFolder + "\r\n" + b + "\r\n" + c;
  tFiles.SetText(listed);
  EXPECT_EQ(engine.Send(), SendEnd::Finished);

  EXPECT_EQ(Sent(), Cat({Sysex(150), Times(63, Sysex(64)), Sysex(160)})) << "the name without a line break is not sent";
  // The Send goes on past both; the reload at the end fails on the folder, keeps the
  // list and loads none of it.
  const std::string notOpened = "Error opening file " + noFolder;
  EXPECT_EQ(dialogs.Texts(), (Strings{transmit::kSendPrompt, "Error reading file " + failing, notOpened, notOpened}));
  EXPECT_EQ(tFiles.Text(), listed);
  EXPECT_TRUE(parse.Log().RestartPending) << "what loaded before the folder is nothing to save";
  EXPECT_EQ(engine.FilesNotOpened(), 2) << "the command line's send exits with an error on them";
  EXPECT_FALSE(fs::exists("\r") || fs::exists("\n")) << "no file is made of a blank line";
}

struct Failure {
  std::string name;
  std::function<void(FakeMidiPorts&)> inject;
  std::string message;  // after the prompt
  SendEnd end;
  int blocksSent, reloads;
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }
class Failures : public TransmitTest, public testing::WithParamInterface<Failure> {};

TEST_P(Failures, ShowTheirMessageAndEndAsTheyMust) {
  const Failure& f = GetParam();
  ports.errorTexts[midi::kErrNotReady] = "busy";
  f.inject(ports);
  List({Sysex(150), Sysex(150), Sysex(100)});
  EXPECT_EQ(engine.Send(), f.end);
  EXPECT_EQ(dialogs.Texts(), (Strings{transmit::kSendPrompt, f.message}));
  EXPECT_EQ(static_cast<int>(blocks.size()), f.blocksSent);
  EXPECT_EQ(reloads, f.reloads);
  ExpectSendingPhaseLeft();
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Failures,
    testing::Values(Failure{"APacedHandOver", [](FakeMidiPorts& p) { p.sendResults = {0, midi::kErrNotReady}; },
                            "midiOutLongMsg: busy", SendEnd::HandOverFailed, 1, 1},
                    Failure{"TheRestOfAFile", [](FakeMidiPorts& p) { p.sendResults = {0, 0, midi::kErrNotReady}; },
                            "midiOutLongMsg: busy", SendEnd::RestFailed, 2, 0}),
    [](const testing::TestParamInfo<Failure>& p) { return p.param.name; });

}  // namespace
