// SETTINGS.DAT: the numeric reading, what a file yields, and writing on every change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/ScriptedDialogs.h"
#include "settings/Settings.h"
#include "support/RunCli.h"

namespace {

struct ReadingCase {
  const char* text;
  std::optional<std::int32_t> value;
};

class Reading : public testing::TestWithParam<ReadingCase> {};

TEST_P(Reading, GivesTheRoundedLeadingNumber) {
  EXPECT_EQ(settings::NumericReading(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Reading,
    testing::Values(ReadingCase{"1024", 1024}, ReadingCase{"  -17", -17}, ReadingCase{"+5", 5},
                    ReadingCase{"2.5", 2}, ReadingCase{"3.5", 4}, ReadingCase{"-2.5", -2}, ReadingCase{"-3.5", -4},
                    ReadingCase{"2.50001", 3}, ReadingCase{"2.4999", 2}, ReadingCase{"0.5", 0}, ReadingCase{".7", 1},
                    ReadingCase{"12abc", 12}, ReadingCase{"abc", 0}, ReadingCase{"", 0}, ReadingCase{"- 5", 0},
                    ReadingCase{"2147483647", 2147483647}, ReadingCase{"-2147483648", -2147483647 - 1},
                    ReadingCase{"2147483648", std::nullopt}, ReadingCase{"2147483647.5", std::nullopt},
                    ReadingCase{"2147483646.5", 2147483646},
                    ReadingCase{"99999999999999999999999999", std::nullopt}));

class SettingsFile : public testing::Test {
 protected:
  void SetUp() override { dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void WriteFile(const std::string& text) { std::ofstream(dir_ / "SETTINGS.DAT", std::ios::binary) << text; }
  std::string FileText() { return Slurp(dir_ / "SETTINGS.DAT"); }

  std::filesystem::path dir_;
  ScriptedDialogs dialogs_;
};

struct FileCase {
  const char* content;
  std::int32_t size;
  const char* boxText;
};

class LoadedFrom : public SettingsFile, public testing::WithParamInterface<FileCase> {};

TEST_P(LoadedFrom, ItsFirstItemSetsTheSize) {
  WriteFile(GetParam().content);
  settings::Settings s(dir_, dialogs_);
  s.LoadSettings();
  EXPECT_TRUE(s.SettingsLoaded);
  EXPECT_EQ(s.TransmitBufferSize, GetParam().size);
  EXPECT_EQ(s.BoxText(), GetParam().boxText);
  EXPECT_TRUE(dialogs_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadedFrom,
                         testing::Values(FileCase{"1024\r\n", 1024, "1024"}, FileCase{"1024,junk\r\n", 1024, "1024"},
                                         FileCase{"abc\r\n", 0, ""}, FileCase{"2.5\r\n", 2, "2"},
                                         FileCase{"3.5", 4, "4"}, FileCase{"", 139, "139"},
                                         FileCase{"\"77\",1\r\n", 77, "77"}, FileCase{"-5\r\n", -5, "-5"},
                                         FileCase{"99999999999\r\n", 139, "139"}));

TEST_F(SettingsFile, WithoutAFileTheSizeStays139AndLoadingIsStillRecorded) {
  settings::Settings s(dir_, dialogs_);
  s.LoadSettings();
  EXPECT_TRUE(s.SettingsLoaded);
  EXPECT_EQ(s.TransmitBufferSize, 139);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "SETTINGS.DAT"));
}

TEST_F(SettingsFile, EveryChangeOfTheBoxWritesTheFile) {
  settings::Settings s(dir_, dialogs_);
  ui::TextBox box(0);
  box.SetOnChange([&] { s.SaveSettings(box); });
  box.SetText(s.BoxText());  // what opening the window does
  EXPECT_EQ(FileText(), "139\r\n");
  box.SetText("1");
  EXPECT_EQ(FileText(), "1\r\n");
  box.SetText("10");
  EXPECT_EQ(FileText(), "10\r\n");
  box.SetText("");
  EXPECT_EQ(s.TransmitBufferSize, 0);
  EXPECT_EQ(FileText(), "0\r\n");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(SettingsFile, ANumberBeyondThe32BitRangePuts139BackIntoTheBoxAndTheFile) {
  settings::Settings s(dir_, dialogs_);
  ui::TextBox box(0);
  box.SetOnChange([&] { s.SaveSettings(box); });
  box.SetText("1024");
  box.SetText("99999999999");
  EXPECT_EQ(box.Text(), "139");
  EXPECT_EQ(s.TransmitBufferSize, 139);
  EXPECT_EQ(FileText(), "139\r\n");
}

TEST_F(SettingsFile, AnUnwritableFolderIsReportedAndTheNewValueStaysInForce) {
  settings::Settings s(dir_ / "missing", dialogs_);
  ui::TextBox box(0);
  box.SetText("512");
  s.SaveSettings(box);
  EXPECT_EQ(s.TransmitBufferSize, 512);
  const std::string where = (dir_ / "missing").string() + "/SETTINGS.DAT";
  EXPECT_EQ(dialogs_.Texts(), std::vector<std::string>{"Error opening " + where + " for writing!"});
}

TEST_F(SettingsFile, AFailedWriteKeepsTheOldFile) {
  settings::Settings s(dir_, dialogs_);
  WriteFile("1024\r\n");
  // A folder where the new file must go makes the last step fail.
  std::filesystem::create_directories(dir_ / "SETTINGS.DAT.new" / "x");
  ui::TextBox box(0);
  box.SetText("7");
  s.SaveSettings(box);
  EXPECT_EQ(FileText(), "1024\r\n");
  EXPECT_EQ(dialogs_.messages.size(), 1u);
}

}  // namespace
