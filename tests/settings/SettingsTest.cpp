// SETTINGS.DAT: the numeric reading, what a file yields, and a read-only file. Writing
// on every change is the Speed window's test (tests/ui), typed into its box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/ScriptedDialogs.h"
#include "settings/Settings.h"
#include "support/RunCli.h"

namespace {

namespace fs = std::filesystem;

// Halves round to the even neighbour; past the signed 32-bit range there is no value.
TEST(NumericReading, GivesTheRoundedLeadingNumber) {
  const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
      {"  -17", -17}, {"+5", 5}, {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"-3.5", -4}, {"2.50001", 3},
      {".7", 1}, {"12abc", 12}, {"abc", 0}, {"- 5", 0}, {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt}, {"2147483647.5", std::nullopt}, {"2147483646.5", 2147483646}};
  for (const auto& [text, value] : cases) EXPECT_EQ(settings::NumericReading(text), value) << text;
}

class SettingsFile : public testing::Test {
 protected:
  ~SettingsFile() override { fs::remove_all(dir_); }
  void WriteFile(const std::string& text) { std::ofstream(dir_ / "SETTINGS.DAT", std::ios::binary) << text; }
  std::string FileText() { return Slurp(dir_ / "SETTINGS.DAT"); }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  ScriptedDialogs dialogs_;
};

// The second item is the pause: a whole number from 0 to 5000, else it stays 200.
TEST_F(SettingsFile, ItsFirstItemSetsTheSizeTheSecondThePauseAndNoFileOrNoNumberInRangeLeaves139And200) {
  const struct {
    const char* content;  // nullptr: no file; "@PATH": a link to PATH
    std::int32_t size;
    const char* boxText;
    bool read = true;
    std::int32_t pauseMs = 200;
  } cases[] = {{"1024,junk\r\n", 1024, "1024"}, {"abc\r\n", 0, ""}, {"3.5", 4, "4"}, {"", 139, "139"},
               {"1024,200\r\n", 1024, "1024"}, {"1024\r\n", 1024, "1024"}, {"1024,45\r\n", 1024, "1024", true, 45},
               {"1024, 0 \r\n45", 1024, "1024", true, 0}, {"1024,5001\r\n", 1024, "1024"}, {"9,-1", 9, "9"},
               {"9,4.5", 9, "9"}, {"9,\r\n", 9, "9"}, {"9\r\n,45", 9, "9"}, {"\"9,8\" ,7,6", 9, "9", true, 7},
               {nullptr, 139, "139", false}, {"\"77\",1\r\n", 77, "77", true, 1}, {"-5\r\n", -5, "-5"},
               {"99999999999\r\n", 139, "139"}, {"\r\n55\r\n", 0, ""},
               // Reading address 0 of its own memory fails; an endless file holds no number.
               {"@/proc/self/mem", 139, "139", false}, {"@/dev/zero", 0, ""}};
  for (const auto& c : cases) {
    fs::remove(dir_ / "SETTINGS.DAT");
    if (c.content != nullptr && c.content[0] == '@') fs::create_symlink(c.content + 1, dir_ / "SETTINGS.DAT");
    else if (c.content != nullptr) WriteFile(c.content);
    settings::Settings s(dir_, dialogs_);
    EXPECT_EQ(s.LoadSettings(), c.read) << (c.content ? c.content : "no file");
    EXPECT_TRUE(s.SettingsLoaded);
    EXPECT_EQ(s.TransmitBufferSize, c.size) << (c.content ? c.content : "no file");
    EXPECT_EQ(s.BoxText(), c.boxText);
    EXPECT_EQ(s.PauseMs, c.pauseMs) << (c.content ? c.content : "no file");
    EXPECT_EQ(fs::exists(dir_ / "SETTINGS.DAT"), c.content != nullptr) << "loading writes nothing";
  }
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(SettingsFile, AReadOnlyFileIsKeptAndSaidToBe) {
  settings::Settings s(dir_, dialogs_);
  WriteFile("1024\r\n");
  fs::permissions(dir_ / "SETTINGS.DAT", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  roles::TextBox box(0);
  box.SetText("7");
  s.SaveSettings(box);
  EXPECT_EQ(FileText(), "1024\r\n");
  EXPECT_EQ(dialogs_.messages.size(), 1u);
}

}  // namespace
