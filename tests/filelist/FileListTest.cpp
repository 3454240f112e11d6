// The file list as the window drives it: Add with the scripted dialog, reloads of real
// files in a fresh folder, and removals by key.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "DumpGenerator.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// One data-set message of the pattern (0x40 + slot) or settings (0x14 slot) of a user slot.
Bytes Piece(int user, bool settings, std::uint8_t data = 0x11) {
  const std::uint8_t address[4] = {static_cast<std::uint8_t>(settings ? 0x14 : 0x3F + user),
                                   static_cast<std::uint8_t>(settings ? user - 1 : 0), 0, 0};
  return dumpgen::DataSetMessage(0x10, address, {data, 0x22});
}

class FileListTest : public testing::Test {
 protected:
  ~FileListTest() override { fs::remove_all(dir_); }
  std::string File(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  void Add(const std::string& path) {
    dialogs.paths.push_back(path);
    list.AddClicked();
  }
  Strings Listed() const {
    Strings names;
    for (const auto& l : filelist::CompleteLines(filesBox.Text())) {
      names.push_back(fs::path(filesBox.Text().substr(l.start, l.contentEnd - l.start)).filename().string());
    }
    return names;
  }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  mc303::SharedFlags flags;
  roles::TextBox filesBox{8192}, piecesBox{16384}, reportBox{1024};
  CountingPump pump;
  ScriptedDialogs dialogs;
  mc303::MemoryLogFile log;
  roles::NoProgressWindow splash;
  std::vector<bool> addEnabled;
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};
  filelist::FileList list{flags, filesBox, parse, pump, dialogs, splash, [this](bool on) { addEnabled.push_back(on); }};
};

TEST_F(FileListTest, AddedFilesTakeTheirSortedPlacesAndTheLogHoldsThemInListOrder) {
  const Bytes u3p = Piece(3, false), u1s = Piece(1, true), u2p = Piece(2, false);
  Add(File("SET_U03P.SYX", Cat({{0xFE}, u3p})));
  Add(File("SET_U01S.SYX", u1s));
  Add(File("SET_U02P.SYX", Cat({u2p, {0xF8}})));
  EXPECT_EQ(Listed(), (Strings{"SET_U01S.SYX", "SET_U02P.SYX", "SET_U03P.SYX"}));
  EXPECT_EQ(filesBox.SelStart(), filesBox.Length());
  EXPECT_EQ(piecesBox.Text(), "U01 Settings Only\r\nU02 Missing Settings\r\nU03 Missing Settings\r\n");
  EXPECT_EQ(log.Bytes(), Cat({u1s, u2p, u3p})) << "list order, without FE and F8";
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(dialogs.messages.empty());
  ASSERT_EQ(dialogs.fileDialogs.size(), 3u);
  EXPECT_EQ(dialogs.fileDialogs[0].title, "Add SYX File");
  EXPECT_EQ(dialogs.fileDialogs[0].filter, "SYX and MIDI files|*.syx;*.mid|SYX files|*.syx|MIDI files|*.mid");
  EXPECT_EQ(addEnabled, (std::vector<bool>{false, true, false, true, false, true}));
}

// A second file that repeats a listed piece, holds a bad checksum or is a damaged MIDI
// file is refused.
class RefusedAdd : public FileListTest, public testing::WithParamInterface<int> {};

TEST_P(RefusedAdd, ShowsTheDuplicateMessageAndPutsThePreviousListBack) {
  // The first file begins and ends with one piece, so that reading it again continues
  // that piece unless every file starts afresh.
  const std::string first = File("first.syx", Cat({Piece(4, false), Piece(4, false, 0x55)}));
  Bytes badChecksum = Piece(7, false);
  badChecksum[badChecksum.size() - 2] ^= 1;
  // A MIDI file of format 5: MThd, header length 6, then the format at byte offset 8.
  const Bytes badMidi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 5, 0, 1, 1, 0xE0};
  const Bytes second[] = {{},                                            // the same file again
                          Cat({Piece(9, true), Piece(4, false, 0x44)}),  // a listed slot, in another place
                          Cat({Piece(8, false), badChecksum}), badMidi};
  Add(first);
  const std::string text = filesBox.Text(), pieces = piecesBox.Text();
  const Bytes logged = log.Bytes();
  const std::string added = GetParam() == 0 ? first : File(GetParam() == 3 ? "second.mid" : "second.syx", second[GetParam()]);
  Add(added);
  EXPECT_EQ(filesBox.Text(), text);
  EXPECT_EQ(piecesBox.Text(), pieces);
  EXPECT_EQ(log.Bytes(), logged);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  const std::string told[] = {filelist::kDuplicatePiece, filelist::kDuplicatePiece,
                              "The checksum of a message in the file " + added +
                                  " is bad: the file is damaged and cannot be loaded.",
                              "The MIDI file " + added + " is damaged and cannot be loaded: not a readable Standard "
                                  "MIDI File: at byte offset 8, format 5 is none of 0, 1 and 2."};
  EXPECT_EQ(dialogs.messages[0].text, told[GetParam()]);
  EXPECT_EQ(dialogs.messages[0].title, "Error");
  EXPECT_EQ(dialogs.messages[0].icon, roles::Icon::Exclamation);
  EXPECT_EQ(addEnabled.back(), true);
}
INSTANTIATE_TEST_SUITE_P(SecondFiles, RefusedAdd, testing::Values(0, 1, 2, 3));

// An aborted load of an Add or a removal puts the previous list back; one that cannot
// load either (a file gone, never created by reading) keeps its names, loaded no further.
TEST_F(FileListTest, AFailedLoadPutsThePreviousListBackAndNeverEmptiesIt) {
  Add(File("a.syx", Piece(1, false)));
  Bytes longFile;
  for (int u = 2; u <= 50; ++u) longFile = Cat({longFile, Piece(u, false), Piece(u, true)});
  const std::string pieces = piecesBox.Text();
  int pumpsInLongFile = 0;
  pump.onPump = [&] {
    if (filesBox.Text().find("long.syx") != std::string::npos && ++pumpsInLongFile == 300) flags.AbortRequested = true;
  };
  Add(File("long.syx", longFile));
  EXPECT_EQ(Listed(), Strings{"a.syx"});
  EXPECT_EQ(piecesBox.Text(), pieces);
  EXPECT_TRUE(dialogs.messages.empty()) << "the abort question belongs to the progress window";
  EXPECT_FALSE(flags.AbortRequested) << "the reload of the restored list starts without it";

  const std::string b = File("b.syx", Piece(2, false));
  Add(b);
  const std::string text = filesBox.Text(), both = piecesBox.Text();
  for (const bool gone : {false, true}) {
    if (gone) fs::remove(b);
    bool once = false;
    pump.onPump = [&] { flags.AbortRequested = !gone && !std::exchange(once, true); };
    filesBox.SetSelection(1, 0);  // after the first character of a.syx's line
    list.FilesKeyDown(filelist::kBackspace);
    EXPECT_EQ(filesBox.Text(), text);
    EXPECT_EQ(piecesBox.Text(), gone ? "" : both);
  }
  EXPECT_TRUE(parse.Log().RestartPending) << "Save finds nothing to write";
  EXPECT_EQ(dialogs.Texts(), Strings(2, "Error opening file " + b));
  EXPECT_FALSE(fs::exists(b));
}

// Read back, a name holding CR or LF would be other paths, each created empty by the
// reload. Add refuses it before listing or reloading anything, and so does the listing
// of a saved piece file.
class NameWithLineBreak : public FileListTest, public testing::WithParamInterface<const char*> {};

TEST_P(NameWithLineBreak, IsNeitherListedNorSplitIntoOtherFiles) {
  Add(File("a.syx", Piece(1, false)));
  const std::string text = filesBox.Text();
  const Bytes logged = log.Bytes();
  const std::string name = (dir_ / ("x" + std::string(GetParam()) + "y.syx")).string();
  Add(name);
  list.AddFileLine(name + "\r\n");
  EXPECT_EQ(filesBox.Text(), text);
  EXPECT_EQ(log.Bytes(), logged);
  EXPECT_FALSE(fs::exists(dir_ / "x"));
  EXPECT_EQ(dialogs.Texts(), Strings(2, name + " cannot be listed: its name holds a line break."));
  EXPECT_EQ(addEnabled.back(), true);
}
INSTANTIATE_TEST_SUITE_P(Breaks, NameWithLineBreak, testing::Values("\r", "\n"),
                         [](const auto& p) { return std::string(p.index == 0 ? "CR" : "LF"); });

TEST_F(FileListTest, OtherKeysAndKeysOrClicksDuringAReloadLeaveTheListAlone) {
  Add(File("a.syx", Piece(1, false)));
  // A removal key here would remove the line.
  filesBox.SetSelection(static_cast<int>(filesBox.Text().find("a.syx") + 1), 0);
  list.FilesKeyDown('A');
  list.FilesKeyPress('a');
  list.FilesKeyPress(46);  // the Delete key's code typed as a character is '.'
  // Keys and Add clicks that arrive while a reload reads would start a reload inside
  // it; they are ignored, also after a reload that did run inside it has ended.
  dialogs.paths.push_back(File("b.syx", Piece(2, false)));
  bool nested = false;
  pump.onPump = [&] {
    if (!std::exchange(nested, true)) (void)list.ReloadFileList();
    list.FilesKeyDown(46);
    list.AddClicked();
  };
  EXPECT_TRUE(list.ReloadFileList());
  EXPECT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(Listed(), Strings{"a.syx"});
  EXPECT_EQ(piecesBox.Text(), "U01 Missing Settings\r\n");
}

}  // namespace
