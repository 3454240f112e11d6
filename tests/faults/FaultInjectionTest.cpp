// Faults injected into a session as a user runs it. Each must be said and lose nothing:
// older files stay as they were, what was captured is saved where it can be. The tests
// run as root, so the faults are ones that stop root too.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>

#include "DumpGenerator.h"
#include "settings/Settings.h"
#include "support/SplitByAddress.h"
#include "session/CaptureSession.h"

namespace {

namespace fs = std::filesystem;

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

class Session : public CaptureSession {
 protected:
  using CaptureSession::CaptureSession;
  std::string IoError() const { return "I/O Error accessing " + (programDir / "OUTFILE.SYX").string(); }
  // Every slot of the dump has both its piece files, each holding exactly the bytes
  // found by address in the dump; `except` names a user number left out on purpose.
  // Nothing half-written is left beside them.
  void ExpectPieceFiles(const Bytes& dump, int except = 0) {
    const SlotPieces pieces = SplitByAddress(WithoutRealTime(dump));
    ASSERT_FALSE(pieces.pattern.empty());
    for (const auto& [slot, pattern] : pieces.pattern) {
      const std::string nn = std::to_string((slot + 1) / 10) + std::to_string((slot + 1) % 10);
      if (slot + 1 == except) continue;
      EXPECT_EQ(Read("P_U" + nn + "P.SYX"), pattern) << "U" << nn;
      EXPECT_EQ(Read("P_U" + nn + "S.SYX"), pieces.settings.at(slot)) << "U" << nn;
    }
    for (const auto& e : fs::directory_iterator(dir)) {
      EXPECT_EQ(e.path().filename().string().find(".vezorizer-"), std::string::npos) << e.path();
    }
  }
};

// Where the program's directory cannot be written even by root: a file stands where the
// folder should be, or the folder is one of /proc's.
struct Unwritable {
  const char* name;
  CaptureSession::ProgramDirectory make;
};
void PrintTo(const Unwritable& u, std::ostream* os) { *os << u.name; }
class UnwritableProgramDirectory : public testing::TestWithParam<Unwritable>, public Session {
 protected:
  UnwritableProgramDirectory() : Session(GetParam().make) {}
};

TEST_P(UnwritableProgramDirectory, SettingsAndTheLogSaySoAndTheCaptureIsSavedInPieces) {
  settings::Settings settings(programDir, dialogs);
  roles::TextBox sizeBox(0);
  sizeBox.SetText("512");
  settings.SaveSettings(sizeBox);
  EXPECT_EQ(settings.TransmitBufferSize, 512) << "the new value stays in force";

  const Bytes dump = SmallDump();
  Capture(dump);
  // No log: nothing to copy, so the overall file is not made, and the totals check
  // finds none of the pieces' bytes in it.
  EXPECT_EQ(Shown(), (Strings{"Error opening " + (programDir / "SETTINGS.DAT").string() + " for writing!", IoError(),
                              IoError(), IoError(), "Could not create " + At("DUMP.SYX") + kCouldNotCreateTail,
                              TotalsWarning(0, WithoutRealTime(dump).size())}));
  EXPECT_FALSE(fs::exists(dir / "DUMP.SYX"));
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
// the limit ends with it; the parent checks the files it left and the messages shown,
// handed back in a file.
class DiskFull : public testing::Test, public Session {
 protected:
  using Limit = std::function<void()>;
  void RunLimited(rlim_t limitBytes, const std::function<void(const Limit& limitNow)>& session) {
    const fs::path messages = dir / "messages.txt";
    EXPECT_EXIT(InChild(limitBytes, session, messages), testing::ExitedWithCode(0), "");
    std::ifstream in(messages);
    for (std::string line; std::getline(in, line);) shown.push_back(line);
  }
  [[noreturn]] void InChild(rlim_t limitBytes, const std::function<void(const Limit&)>& session,
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
  RunLimited(1024, [&](const Limit& limitNow) {
    limitNow();
    Capture(dump);
  });
  const Bytes stream = WithoutRealTime(dump);
  // The log holds its first 1024 bytes, and so does the overall copy of it.
  EXPECT_EQ(shown, (Strings{IoError(), IoError(), IoError(), TotalsWarning(1024, stream.size())}));
  EXPECT_EQ(Read("DUMP.SYX"), Bytes(stream.begin(), stream.begin() + 1024));
  ExpectPieceFiles(dump);
}

TEST_F(DiskFull, AtTheOverallCopyAndALongPieceTheOldFileStaysAndTheLogKeepsEverything) {
  // Slot 1's pattern of 1500 bytes does not fit under the limit; the others do.
  dumpgen::DumpOptions o;
  o.slotCount = 1;
  o.minPatternBytes = o.maxPatternBytes = 1500;
  const Bytes dump = Cat({dumpgen::GenerateDump(o), SmallDump(1)});
  WriteBytes(dir / "DUMP.SYX", {0x42});  // an older overall file of that name
  RunLimited(1200, [&](const Limit& limitNow) {
    Capture(dump, [&] {
      parse.FlushOutfile();  // the log is on disk before the disk fills
      limitNow();
    });
  });
  const Bytes stream = WithoutRealTime(dump);
  EXPECT_EQ(shown, (Strings{"Could not create " + At("DUMP.SYX") + kCouldNotCreateTail, TotalsWarning(1, stream.size()),
                            "I/O Error accessing file " + At("P_U01P.SYX"), "Operation cancelled."}));
  EXPECT_EQ(Read("DUMP.SYX"), Bytes{0x42}) << "a failed copy leaves the old file as it was";
  EXPECT_EQ(Read(programDir / "OUTFILE.SYX"), stream) << "the whole capture is still in the log";
  EXPECT_FALSE(fs::exists(dir / "P_U01P.SYX"));
  EXPECT_FALSE(fs::exists(dir / "P_U01S.SYX")) << "no settings file after a failed pattern file";
  ExpectPieceFiles(dump, 1);
}

// A fault that strikes a listed file while the reload is reading the file before it.
struct ReloadFault {
  const char* name;
  std::function<void(const fs::path& victim)> strike;
  bool hitsTheFileBeingRead;
  std::string message;  // empty: the add goes through; else shown twice, for the new list and the old
};
void PrintTo(const ReloadFault& f, std::ostream* os) { *os << f.name; }
class MidReload : public testing::TestWithParam<ReloadFault>, public Session {};

// Listed: A (slots 1-3) and B (11-13); the user adds C (21-23). The fault strikes while
// the reload of that add reads A, once 100 of A's bytes have been read.
TEST_P(MidReload, AFaultIsSaidAndNoListedFileIsChangedByTheReload) {
  const ReloadFault& f = GetParam();
  const Bytes c = SmallDump(20);
  WriteBytes(dir / "A.SYX", SmallDump(0));
  WriteBytes(dir / "B.SYX", SmallDump(10));
  WriteBytes(dir / "C.SYX", c);
  filesBox.SetText(At("A.SYX") + "\r\n" + At("B.SYX") + "\r\n");
  ASSERT_TRUE(list.ReloadFileList());

  const std::uint64_t fedBefore = parse.BytesFed();
  bool struck = false;
  pump.onPump = [&] {
    if (struck || parse.BytesFed() < fedBefore + 100) return;
    struck = true;
    f.strike(dir / (f.hitsTheFileBeingRead ? "A.SYX" : "B.SYX"));
  };
  dialogs.paths = {At("C.SYX")};
  list.AddClicked();
  pump.onPump = {};
  ASSERT_TRUE(struck);

  if (!f.message.empty()) {
    EXPECT_EQ(dialogs.Texts(), Strings(2, f.message + At("B.SYX")));
    EXPECT_EQ(filesBox.Text(), At("A.SYX") + "\r\n" + At("B.SYX") + "\r\n")
        << "the restored list failed as well: its names stay, none of it loaded";
    EXPECT_EQ(piecesBox.Text(), "");
  } else {
    // What the reload read is what the files held: A in full even when it was removed
    // while being read.
    EXPECT_EQ(dialogs.Texts(), Strings{});
    EXPECT_EQ(filesBox.Text(), At("A.SYX") + "\r\n" + At("B.SYX") + "\r\n" + At("C.SYX") + "\r\n");
    EXPECT_EQ(piecesBox.Text(), f.hitsTheFileBeingRead ? "U01\r\nU02\r\nU03\r\nU11\r\nU12\r\nU13\r\nU21\r\nU22\r\nU23\r\n"
                                                     : "U01\r\nU02\r\nU03\r\nU21\r\nU22\r\nU23\r\n");
  }
  EXPECT_EQ(Read("C.SYX"), c) << "the added file is untouched on disk whatever became of the add";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MidReload,
    testing::Values(
        // Unlinked while open: the open file still reads to its end.
        ReloadFault{"TheFileBeingReadIsRemoved", [](const fs::path& p) { fs::remove(p); }, true, ""},
        // A listed name that is gone cannot be opened; reading never creates it.
        ReloadFault{"TheNextFileIsRemoved", [](const fs::path& p) { fs::remove(p); }, false, "Error opening file "},
        ReloadFault{"TheNextFileBecomesAFolder",
                    [](const fs::path& p) {
                      fs::remove(p);
                      fs::create_directory(p);
                    },
                    false, "Error opening file "},
        // /proc/self/mem opens for root too and fails its first read with EIO.
        ReloadFault{"TheNextFileCannotBeRead",
                    [](const fs::path& p) {
                      fs::remove(p);
                      fs::create_symlink("/proc/self/mem", p);
                    },
                    false, "Error reading file "}),
    [](const testing::TestParamInfo<ReloadFault>& p) { return std::string(p.param.name); });

}  // namespace
