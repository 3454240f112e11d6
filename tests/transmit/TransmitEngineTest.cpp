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

// What the engine told the progress window: its captions, and each time the bytes
// handed over, their total and the seconds left, with the fake clock's time.
struct Told {
  std::uint64_t ms;
  std::int64_t done, total, seconds;
};
class SplashLog final : public roles::ProgressWindow {
 public:
  explicit SplashLog(const std::uint64_t& clock) : clock_(clock) {}
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void Show() override {}
  void Hide() override {}
  void SetProgress(std::int64_t done, std::int64_t total, std::int64_t seconds) override {
    told.push_back({clock_, done, total, seconds});
  }
  Strings captions;
  std::vector<Told> told;

 private:
  const std::uint64_t& clock_;
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
    filesBox.SetText(text);
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
  roles::TextBox filesBox{8192}, piecesBox{16384}, reportBox{1024}, trafficBox{174};
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  transmit::PacingCountdown countdown;
  FakeTimer3 timer3{countdown};
  mc303::SysexIntake parse{flags, piecesBox, reportBox, timer3, dialogs, log};
  SplashLog splash{timer3.now};
  roles::NoProgressWindow loading;
  filelist::FileList list{flags, filesBox, parse, timer3, dialogs, loading};
  FakeMidiPorts ports;
  midi::DeviceState devices;
  std::int32_t bufferSize = 139;
  std::int32_t pauseMs = 200;
  int reloads = 0;
  std::size_t shownBeforeReload = 0;  // the messages the Send itself showed
  transmit::TransmitEngine engine{{flags, parse, filesBox, reportBox, trafficBox, ports, devices, dialogs, timer3, splash,
                                   countdown, timer3, bufferSize, [this] {
                                     if (++reloads == 1) shownBeforeReload = dialogs.messages.size();
                                     return list.ReloadFileList();
                                   },
                                   pauseMs}};
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
  std::uint64_t tickMs, startMs;
  std::int64_t lineUsPerByte;  // of a port that tells when its bytes have left; 0: one that cannot
  std::uint64_t gapsMs[3];     // from each hand-over to the next
  std::int32_t pauseMs = 200;  // set as the second block is handed over
};
std::string PauseName(const testing::TestParamInfo<Pause>& p) {
  return "Ticks" + std::to_string(p.param.tickMs) + "Ms" + (p.param.startMs > 0xFFFF0000u ? "AcrossTheWrap" : "") +
         (p.param.lineUsPerByte > 0 ? "OnASlowLineThePortTellsOf" : "") +
         (p.param.pauseMs != 200 ? "PauseSetTo" + std::to_string(p.param.pauseMs) : "");
}
class Pacing : public TransmitTest, public testing::WithParamInterface<Pause> {};

TEST_P(Pacing, PacedBlocksAndRestsAreFollowedByThePauseOfSilenceOnTheLineAndTheLastRestGoesAtOnce) {
  timer3.tickMs = GetParam().tickMs;
  timer3.now = GetParam().startMs;
  onHandOver = [this] {
    if (blocks.size() == 2) pauseMs = GetParam().pauseMs;
  };
  if (GetParam().lineUsPerByte > 0) {
    ports.lineUsPerByte = GetParam().lineUsPerByte;
    ports.lineClockUs = [this] { return static_cast<std::int64_t>(timer3.now) * 1000; };
  }
  List({Times(2, Sysex(150)), Sysex(50), Sysex(50)});
  EXPECT_EQ(engine.Send(), SendEnd::Finished);
  ASSERT_EQ(blocks, (std::vector<Block>{P(150), P(150), R(50), E(50)}));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(handOverMs[i + 1] - handOverMs[i], GetParam().gapsMs[i]) << i;
  EXPECT_EQ(timer3.now, handOverMs[3]) << "no pause after the last file's rest";
  EXPECT_EQ(splash.captions, Strings{transmit::kSendingCaption});
}

// 150 bytes take 48 ms on a MIDI line, 50 bytes 16 ms: the pause ends 248 and 216 ms
// after the hand-over. From idle the first tick comes one interval after it and takes
// 1 off, then the countdown runs out at the first tick that completes the rest:
// 1 + 247 = 248; 16 + 16 x 16 = 272; 10 + 25 x 10 = 260. Re-armed at once after
// running out, its first tick already counts the full interval: 248 and 216;
// 16 x 16 = 256 and 14 x 16 = 224; 25 x 10 = 250 and 22 x 10 = 220 (the clock wraps
// round at 2^32, 256 ms into the third case). A port that tells of a line half as
// fast (96 and 32 ms) is waited for: 296, 296, 232. A pause set during the Send
// counts from the block handed over then: 248, then 48 + 45 = 93, 16 + 45 = 61; with
// none, the line's time alone.
INSTANTIATE_TEST_SUITE_P(Engine, Pacing,
                         testing::Values(Pause{1, 50000, 0, {248, 248, 216}}, Pause{16, 50000, 0, {272, 256, 224}},
                                         Pause{10, 0xFFFFFF00u, 0, {260, 250, 220}},
                                         Pause{1, 50000, 640, {296, 296, 232}}, Pause{1, 50000, 0, {248, 93, 61}, 45},
                                         Pause{1, 50000, 0, {248, 48, 16}, 0}),
                         PauseName);

// Each time the progress window is told, its time left against the time the Send
// then really took on the fake clock (1 ms ticks; reading takes no time here), which
// ends as the last block is handed over, before the line has carried it. Its bar ends
// full, and the MC303 box is left saying what went.
struct Estimate {
  const char* name;
  std::int32_t bufferSize;
  std::vector<Bytes> files;
  std::size_t resizeAfterBlock;  // to 1024 bytes; 0: never
  std::string result;
  std::int32_t pauseMs = 200;
};
void PrintTo(const Estimate& e, std::ostream* os) { *os << e.name; }
class TimeLeft : public TransmitTest, public testing::WithParamInterface<Estimate> {};

TEST_P(TimeLeft, CountsTheLinesTimeAndEveryPauseAndTheBarEndsFull) {
  const Estimate& e = GetParam();
  bufferSize = e.bufferSize;
  pauseMs = e.pauseMs;
  std::size_t resizedAt = 0;  // the estimates from here on know of the new size
  onHandOver = [&] {
    if (blocks.size() != e.resizeAfterBlock) return;
    bufferSize = 1024;
    resizedAt = splash.told.size();
  };
  List(e.files);
  EXPECT_EQ(engine.Send(), SendEnd::Finished);
  // Counted until the last byte has left the line, and rounded up to whole seconds;
  // told before the last block goes.
  const double end = static_cast<double>(timer3.now) + blocks.back().bytes * 0.32;
  ASSERT_GT(splash.told.size(), resizedAt);
  for (std::size_t k = resizedAt; k < splash.told.size() && splash.told[k].ms < handOverMs.back(); ++k) {
    const double left = end - static_cast<double>(splash.told[k].ms), told = 1000.0 * splash.told[k].seconds;
    EXPECT_TRUE(told > left - 20 && told < left + 1000) << told << " ms told, " << left << " left";
  }
  EXPECT_EQ(splash.told.back().done, splash.told.back().total);
  const std::string& shown = reportBox.Text();
  EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), e.result.size())), e.result);
}

// Twenty files of 59 bytes: 19 paced rests of 19 ms on the line, 4.2 s in all. 40
// messages of 150 bytes at 1024: five blocks of 1050 (336 ms on the line) and a last
// one, 2.7 s, where the pauses alone would say 1 s. Raised from 139 after the third
// block, the size leaves five paced blocks, not 37. A tail without 0xF7 never goes.
// With a pause of 45 ms the small files take 19 x (19 + 45) ms = 1.2 s.
INSTANTIATE_TEST_SUITE_P(
    Engine, TimeLeft,
    testing::Values(
        Estimate{"ManySmallFiles", 139, std::vector<Bytes>(20, Sysex(59)), 0, "1180 bytes sent,\r\n20 files.\r\n"},
        Estimate{"ManySmallFilesAPauseOf45Ms", 139, std::vector<Bytes>(20, Sysex(59)), 0,
                 "1180 bytes sent,\r\n20 files.\r\n", 45},
        Estimate{"LargeBlocks", 1024, {Times(40, Sysex(150))}, 0, "Send finished.\r\n6000 bytes sent,\r\n1 file.\r\n"},
        Estimate{"SizeRaisedDuringTheSend", 139, {Times(40, Sysex(150))}, 3, "6000 bytes sent,\r\n1 file.\r\n"},
        Estimate{"ATailAfterTheLastF7", 139, {Cat({Times(3, Sysex(150)), kTail})}, 0,
                 "450 bytes sent,\r\n1 file.\r\n3 bytes after the\r\nlast F7 not sent.\r\n"}),
    [](const testing::TestParamInfo<Estimate>& p) { return std::string(p.param.name); });

// Yes in the progress window (or a signal on the command line) in the pause after a
// block, or while a block's last byte is read (-N: block N's), once or twice; or a
// quit. The list: U01's pattern in three messages and its settings in one file, U02's
// pattern in a second, then a name in no folder, which a stopped Send never opens.
// Each message of 150 bytes is a block of its own.
struct Interruption {
  const char* name;
  std::vector<int> requests;
  bool quit;
  int blocksSent;
  std::string leftIncomplete, result;
};
void PrintTo(const Interruption& i, std::ostream* os) { *os << i.name; }
class Interrupted : public TransmitTest, public testing::WithParamInterface<Interruption> {};

TEST_P(Interrupted, AStopFinishesThePartBeingSentUnlessAskedTwiceAndOpensNothingAfter) {
  const Interruption& i = GetParam();
  std::vector<Bytes> messages;
  for (int a0 : {0x40, 0x40, 0x40, 0x14, 0x41, 0x41}) {
    const std::uint8_t address[4] = {static_cast<std::uint8_t>(a0), 0, 0, static_cast<std::uint8_t>(messages.size())};
    messages.push_back(dumpgen::DataSetMessage(0x10, address, Bytes(138, 0x05)));
  }
  List({Cat({messages[0], messages[1], messages[2], messages[3]}), Cat({messages[4], messages[5]})});
  filesBox.SetText(filesBox.Text() + (dir_ / "no-such-folder" / "x.syx").string() + "\r\n");
  std::vector<int> requests = i.requests;
  timer3.onPump = [&] {
    if (requests.empty() || flags.AbortRequested) return;
    const int at = requests.front();
    if (at == static_cast<int>(blocks.size()) || (-at == static_cast<int>(blocks.size()) + 1 && engine.BlockCount() == 149)) {
      requests.erase(requests.begin());
      (i.quit ? flags.QuitRequested : flags.AbortRequested) = true;
    }
  };
  EXPECT_EQ(engine.Send(), SendEnd::Finished);
  Bytes sent;
  for (int m = 0; m < i.blocksSent; ++m) sent = Cat({sent, messages[static_cast<std::size_t>(m)]});
  EXPECT_EQ(Sent(), sent);
  Strings shown{transmit::kSendPrompt};
  if (!i.leftIncomplete.empty()) shown.push_back(i.leftIncomplete + transmit::kLeftIncomplete);
  const Strings texts = dialogs.Texts();
  EXPECT_EQ(Strings(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(shownBeforeReload)), shown)
      << "nothing is opened after a stop";
  EXPECT_NE(reportBox.Text().find(i.result + "\r\n"), std::string::npos) << reportBox.Text();
  ExpectSendingPhaseLeft();
}
INSTANTIATE_TEST_SUITE_P(
    Engine, Interrupted,
    testing::Values(Interruption{"InThePartsFirstPause", {1}, false, 3, "", "Send stopped after U01 pattern."},
                    Interruption{"InThePartsLastPause", {3}, false, 3, "", "Send stopped after U01 pattern."},
                    Interruption{"WhileABlockIsRead", {-2}, false, 3, "", "Send stopped after U01 pattern."},
                    Interruption{"AsTheFileEnds", {4}, false, 4, "", "Send stopped after U01 settings."},
                    Interruption{"Twice", {1, 2}, false, 2, "U01 pattern", "Send stopped in U01 pattern, left incomplete."},
                    Interruption{"TwiceOnceThePartIsWhole", {3, 3}, false, 3, "", "Send stopped after U01 pattern."},
                    Interruption{"Quit", {2}, true, 2, "", "Send stopped."}),
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
  filesBox.SetText(listed);
  EXPECT_EQ(engine.Send(), SendEnd::Finished);

  EXPECT_EQ(Sent(), Cat({Sysex(150), Times(63, Sysex(64)), Sysex(160)})) << "the name without a line break is not sent";
  // The Send goes on past both; the reload at the end fails on the folder, keeps the
  // list and loads none of it.
  const std::string notOpened = "Error opening file " + noFolder;
  EXPECT_EQ(dialogs.Texts(), (Strings{transmit::kSendPrompt, "Error reading file " + failing, notOpened, notOpened}));
  EXPECT_EQ(filesBox.Text(), listed);
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
  EXPECT_NE(reportBox.Text().find(f.end == SendEnd::Finished ? "Send finished." : "Send stopped by an error."),
            std::string::npos);
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
