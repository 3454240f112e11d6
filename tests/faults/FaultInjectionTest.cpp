// Faults injected into a session as a user runs it (scripted dialogs, real files): a
// program directory that cannot be written, a disk that fills up (a small file-size
// limit, in a child process), listed files that vanish or turn unreadable in the middle
// of a reload. Each must show its message and lose nothing: what could not be written
// is said, older files are left as they were, and what was captured is still saved
// where it can be. The tests run as root, so permissions stop nothing; the faults are
// ones that stop root too.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DumpGenerator.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "settings/Settings.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"
#include "support/SplitByAddress.h"
#include "ui/CaptureControl.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr const char* kCouldNotCreateTail =
    ".  This may be because there was nothing received or because that file is locked.";

// Three slots of 600 to 900 pattern bytes and their settings, with active sensing
// every 300 bytes: about 2.4 KB, every piece well under 1 KB.
Bytes SmallDump(int firstSlot = 0) {
  dumpgen::DumpOptions o;
  o.firstSlot = firstSlot;
  o.slotCount = 3;
  o.minPatternBytes = 600;
  o.maxPatternBytes = 900;
  o.activeSensingEveryBytes = 300;
  return dumpgen::GenerateDump(o);
}

Bytes LessActiveSensing(Bytes b) {
  std::erase(b, std::uint8_t{0xFE});
  return b;
}

std::string TotalsWarning(std::size_t recorded, std::size_t pieces) {
  return "WARNING: Total data recorded does not match all pieces data added up!   Total data recorded is " +
         std::to_string(recorded) + " bytes.  Pieces added up is " + std::to_string(pieces) + " bytes.";
}

class Session : public testing::Test {
 protected:
  Session() {
    fs::create_directories(programDir_);
    Remake(programDir_);
  }
  ~Session() override { fs::remove_all(dir_); }

  // The session's modules, made anew for another program directory.
  void Remake(const fs::path& programDir) {
    programDir_ = programDir;
    control_.reset();
    list_.reset();
    parse_.reset();
    log_ = std::make_unique<mc303::DiskLogFile>(programDir);
    source_ = std::make_unique<ui::DiskLogSource>(*log_);
    parse_ = std::make_unique<mc303::MC303Parse>(flags, tPieces, tDev, pump, dialogs, *log_);
    list_ = std::make_unique<filelist::FileList>(flags, tFiles, *parse_, pump, dialogs, splash);
    control_ = std::make_unique<ui::CaptureControl>(flags, *parse_, *list_, tFiles, tPieces, tDev, tTraffic, dialogs,
                                                    *source_, window);
  }
  mc303::MC303Parse& Parse() { return *parse_; }
  filelist::FileList& List() { return *list_; }
  ui::CaptureControl& Control() { return *control_; }

  std::string At(const std::string& name) const { return (dir_ / name).string(); }
  Bytes Read(const fs::path& p) const {
    Bytes bytes;
    EXPECT_FALSE(mc303::ReadWholeFile(p, bytes).has_value()) << p;
    return bytes;
  }
  // Start, the dump received as the receive loop feeds it, Stop with the overall file
  // named DUMP and every slot's pieces named P.
  void Capture(const Bytes& dump, const std::function<void()>& beforeStop = {}) {
    Control().StartClicked();
    for (std::uint8_t b : dump) (void)Parse().ParseMidiByte(b, true);
    if (beforeStop) beforeStop();
    dialogs.paths = {At("DUMP")};
    for (int i = 0; i < 50; ++i) dialogs.paths.push_back(At("P"));
    Control().StopClicked();
  }
  // The messages shown, less the Start instruction.
  Strings Shown() const {
    Strings t;
    for (const std::string& m : dialogs.Texts()) {
      if (m.rfind("After you have verified", 0) != 0) t.push_back(m);
    }
    return t;
  }
  // Every slot of the dump has both its piece files, each holding exactly the bytes
  // found by address in the dump; `except` names a user number left out on purpose.
  void ExpectPieceFiles(const Bytes& dump, int except = 0) {
    const SlotPieces pieces = SplitByAddress(LessActiveSensing(dump));
    ASSERT_FALSE(pieces.pattern.empty());
    for (const auto& [slot, pattern] : pieces.pattern) {
      const int user = slot + 1;
      const std::string nn{static_cast<char>('0' + user / 10), static_cast<char>('0' + user % 10)};
      if (user == except) continue;
      EXPECT_EQ(Read(dir_ / ("P_U" + nn + "P.SYX")), pattern) << "U" << nn;
      EXPECT_EQ(Read(dir_ / ("P_U" + nn + "S.SYX")), pieces.settings.at(slot)) << "U" << nn;
    }
  }
  // Nothing half-written was left beside the files.
  void ExpectNoLeftovers() const {
    for (const auto& e : fs::directory_iterator(dir_)) {
      EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }
  }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path programDir_ = dir_ / "prog";
  mc303::SharedFlags flags;
  ui::TextBox tFiles{8192}, tPieces{16384}, tDev{1024}, tTraffic{174};
  CountingPump pump;
  ScriptedDialogs dialogs;
  ui::NoProgressWindow splash;
  ui::MainWindowState window;

 private:
  std::unique_ptr<mc303::DiskLogFile> log_;
  std::unique_ptr<ui::DiskLogSource> source_;
  std::unique_ptr<mc303::MC303Parse> parse_;
  std::unique_ptr<filelist::FileList> list_;
  std::unique_ptr<ui::CaptureControl> control_;
};

// Where the program's directory cannot be written even by root: a file stands where the
// folder should be, or the folder is one of /proc's.
struct Unwritable {
  const char* name;
  std::function<fs::path(const fs::path& dir)> make;
};
void PrintTo(const Unwritable& u, std::ostream* os) { *os << u.name; }
class UnwritableProgramDirectory : public Session, public testing::WithParamInterface<Unwritable> {};

TEST_P(UnwritableProgramDirectory, SettingsAndTheLogSaySoAndTheCaptureIsSavedInPieces) {
  const fs::path prog = GetParam().make(dir_);
  Remake(prog);
  settings::Settings settings(prog, dialogs);
  ui::TextBox tBufSiz(0);
  tBufSiz.SetText("512");
  settings.SaveSettings(tBufSiz);
  EXPECT_EQ(settings.TransmitBufferSize, 512) << "the new value stays in force";

  const Bytes dump = SmallDump();
  Capture(dump);
  const std::string outfile = prog.string() + "/OUTFILE.SYX";
  // No log: nothing to copy, so the overall file is not made, and the totals check
  // finds none of the pieces' bytes in it.
  const std::size_t pieces = LessActiveSensing(dump).size();
  EXPECT_EQ(Shown(), (Strings{"Error opening " + prog.string() + "/SETTINGS.DAT for writing!",
                              "I/O Error accessing " + outfile, "I/O Error accessing " + outfile,
                              "I/O Error accessing " + outfile, "Could not create " + At("DUMP.SYX") + kCouldNotCreateTail,
                              TotalsWarning(0, pieces)}));
  ExpectPieceFiles(dump);
  EXPECT_FALSE(flags.RecordingActive) << "the capture ended normally";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnwritableProgramDirectory,
    testing::Values(Unwritable{"AFileWhereTheFolderShouldBe",
                               [](const fs::path& dir) {
                                 WriteBytes(dir / "blocker", {0x00});
                                 return dir / "blocker" / "prog";
                               }},
                    Unwritable{"AFolderOfProc", [](const fs::path&) { return fs::path("/proc/self/fdinfo"); }}),
    [](const testing::TestParamInfo<Unwritable>& p) { return std::string(p.param.name); });

// A full disk, made with a file-size limit: a write past it fails with EFBIG (SIGXFSZ
// ignored), as a write to a full disk fails. The session runs in a child process, so
// the limit ends with it; the parent checks the files it left.
class DiskFull : public Session {
 protected:
  // Runs the session in a child with the limit set by limitNow() at the chosen moment;
  // the messages shown are handed back in a file.
  void RunLimited(const std::function<void(const std::function<void()>& limitNow)>& session, rlim_t limitBytes) {
    const fs::path messages = dir_ / "messages.txt";
    EXPECT_EXIT(InChild(session, limitBytes, messages), testing::ExitedWithCode(0), "");
    std::ifstream in(messages);
    for (std::string line; std::getline(in, line);) shown.push_back(line);
  }
  [[noreturn]] void InChild(const std::function<void(const std::function<void()>&)>& session, rlim_t limitBytes,
                            const fs::path& messages) {
    signal(SIGXFSZ, SIG_IGN);
    session([limitBytes] {
      const rlimit limit{limitBytes, limitBytes};
      setrlimit(RLIMIT_FSIZE, &limit);
    });
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &none);
    std::ofstream out(messages, std::ios::binary);
    for (const std::string& m : Shown()) out << m << '\n';
    out.close();
    std::_Exit(out ? 0 : 3);
  }
  Strings shown;
};

TEST_F(DiskFull, WhileTheLogIsWrittenItIsSaidAndThePiecesAreStillSaved) {
  const Bytes dump = SmallDump();
  RunLimited([&](const std::function<void()>& limitNow) {
    limitNow();
    Capture(dump);
  }, 1024);
  const std::string outfile = programDir_.string() + "/OUTFILE.SYX";
  const Bytes stream = LessActiveSensing(dump);
  // The log holds its first 1024 bytes, and so does the overall copy of it.
  EXPECT_EQ(shown, (Strings{"I/O Error accessing " + outfile, "I/O Error accessing " + outfile,
                            "I/O Error accessing " + outfile, TotalsWarning(1024, stream.size())}));
  EXPECT_EQ(Read(dir_ / "DUMP.SYX"), Bytes(stream.begin(), stream.begin() + 1024));
  ExpectPieceFiles(dump);
  ExpectNoLeftovers();
}

TEST_F(DiskFull, AtTheOverallCopyAndALongPieceTheOldFileStaysAndTheLogKeepsEverything) {
  // Slot 1's pattern of 1500 bytes does not fit under the limit; the others do.
  dumpgen::DumpOptions o;
  o.slotCount = 1;
  o.minPatternBytes = o.maxPatternBytes = 1500;
  Bytes dump = dumpgen::GenerateDump(o);
  const Bytes rest = SmallDump(1);
  dump.insert(dump.end(), rest.begin(), rest.end());
  WriteBytes(dir_ / "DUMP.SYX", {0x42});  // an older overall file of that name
  RunLimited([&](const std::function<void()>& limitNow) {
    Capture(dump, [&] {
      Parse().FlushOutfile();  // the log is on disk before the disk fills
      limitNow();
    });
  }, 1200);
  const Bytes stream = LessActiveSensing(dump);
  EXPECT_EQ(shown, (Strings{"Could not create " + At("DUMP.SYX") + kCouldNotCreateTail, TotalsWarning(1, stream.size()),
                            "I/O Error accessing file " + At("P_U01P.SYX"), "Operation cancelled."}));
  EXPECT_EQ(Read(dir_ / "DUMP.SYX"), Bytes{0x42}) << "a failed copy leaves the old file as it was";
  EXPECT_EQ(Read(programDir_ / "OUTFILE.SYX"), stream) << "the whole capture is still in the log";
  EXPECT_FALSE(fs::exists(dir_ / "P_U01P.SYX"));
  EXPECT_FALSE(fs::exists(dir_ / "P_U01S.SYX")) << "no settings file after a failed pattern file";
  ExpectPieceFiles(dump, 1);
  ExpectNoLeftovers();
}

// A fault that strikes a listed file while the reload is reading the file before it.
struct ReloadFault {
  const char* name;
  std::function<void(const fs::path& victim)> strike;
  bool hitsTheFileBeingRead;
  bool addRefused;
  std::string message;  // shown twice when the add is refused: the new list, then the old
};
void PrintTo(const ReloadFault& f, std::ostream* os) { *os << f.name; }
class MidReload : public Session, public testing::WithParamInterface<ReloadFault> {};

// Listed: A (slot 1) and B (slot 2); the user adds C (slot 3). The fault strikes while
// the reload of that add reads A, once 100 of A's bytes have been read.
TEST_P(MidReload, AFaultIsSaidAndNoListedFileIsChangedByTheReload) {
  const ReloadFault& f = GetParam();
  const Bytes a = SmallDump(0), b = SmallDump(10), c = SmallDump(20);
  for (const auto& [name, bytes] : {std::pair{"A.SYX", a}, {"B.SYX", b}, {"C.SYX", c}}) WriteBytes(dir_ / name, bytes);
  tFiles.SetText(At("A.SYX") + "\r\n" + At("B.SYX") + "\r\n");
  ASSERT_TRUE(List().ReloadFileList());

  const std::uint64_t fedBefore = Parse().BytesFed();
  bool struck = false;
  pump.onPump = [&] {
    if (struck || Parse().BytesFed() < fedBefore + 100) return;
    struck = true;
    f.strike(f.hitsTheFileBeingRead ? dir_ / "A.SYX" : dir_ / "B.SYX");
  };
  dialogs.paths = {At("C.SYX")};
  List().AddClicked();
  pump.onPump = {};
  ASSERT_TRUE(struck);

  if (f.addRefused) {
    EXPECT_EQ(dialogs.Texts(), (Strings{f.message + At("B.SYX"), f.message + At("B.SYX")}));
    EXPECT_EQ(tFiles.Text(), "") << "the restored list failed as well, so the list is emptied";
    EXPECT_EQ(tPieces.Text(), "");
  } else {
    EXPECT_EQ(dialogs.Texts(), Strings{});
    EXPECT_EQ(tFiles.Text(), At("A.SYX") + "\r\n" + At("B.SYX") + "\r\n" + At("C.SYX") + "\r\n");
  }
  // What the reload read is what the files held: A in full even when it was removed
  // while being read, and C untouched on disk whatever became of the add.
  if (!f.addRefused) {
    const std::string pieces = f.hitsTheFileBeingRead ? "U01\r\nU02\r\nU03\r\nU11\r\nU12\r\nU13\r\nU21\r\nU22\r\nU23\r\n"
                                                      : "U01\r\nU02\r\nU03\r\nU21\r\nU22\r\nU23\r\n";
    EXPECT_EQ(tPieces.Text(), pieces);
  }
  EXPECT_EQ(Read(dir_ / "C.SYX"), c);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MidReload,
    testing::Values(
        // Unlinked while open: the open file still reads to its end.
        ReloadFault{"TheFileBeingReadIsRemoved", [](const fs::path& p) { fs::remove(p); }, true, false, ""},
        // A listed name that is gone reads as an empty file, as the list always had it.
        ReloadFault{"TheNextFileIsRemoved", [](const fs::path& p) { fs::remove(p); }, false, false, ""},
        ReloadFault{"TheNextFileBecomesAFolder",
                    [](const fs::path& p) {
                      fs::remove(p);
                      fs::create_directory(p);
                    },
                    false, true, "Error opening file "},
        // /proc/self/mem opens for root too and fails its first read with EIO.
        ReloadFault{"TheNextFileCannotBeRead",
                    [](const fs::path& p) {
                      fs::remove(p);
                      fs::create_symlink("/proc/self/mem", p);
                    },
                    false, true, "Error reading file "}),
    [](const testing::TestParamInfo<ReloadFault>& p) { return std::string(p.param.name); });

}  // namespace
