// The title, progress, help and transmit buffer size windows, offscreen, with their
// timers ticked by hand. Each also leaves a screenshot in the build folder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "fakes/ScriptedDialogs.h"
#include "settings/Settings.h"
#include "ui/TextBoxView.h"
#include "ui/fHelp.h"
#include "ui/fSplash.h"
#include "ui/fTBufSiz.h"
#include "ui/fTitle.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& name)
      : path(fs::temp_directory_path() / ("vz-ui-" + name + "-" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

void SaveScreenshot(QWidget& w, const char* name) {
  fs::create_directories(VZ_SCREENSHOT_DIR);
  ASSERT_TRUE(w.grab().save(QString::fromUtf8(VZ_SCREENSHOT_DIR) + "/" + name + ".png"));
}

TEST(TitleWindow, ClosesItselfOnTheTenthTick) {
  ui::TitleState state;
  ui::fTitle title(state);
  title.Load();
  EXPECT_EQ(state.TitleCountdown, 10);
  SaveScreenshot(title, "fTitle");
  for (int tick = 1; tick <= 9; ++tick) title.Timer1Tick();
  EXPECT_TRUE(title.Showing());
  EXPECT_FALSE(state.TitleDismissed);
  title.Timer1Tick();
  EXPECT_FALSE(title.Showing());
  EXPECT_TRUE(state.TitleDismissed);
  EXPECT_EQ(state.TitleCountdown, 0);
}

TEST(ProgressWindow, LabelBlinksWithTheLatestCaption) {
  ScriptedDialogs dialogs;
  mc303::SharedFlags flags;
  ui::QtProgressWindow progress(dialogs, flags);
  progress.SetCaption("Loading...");
  progress.Show();
  ui::fSplash& w = *progress.Window();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("             Operation in Progress"));
  SaveScreenshot(w, "fSplash");
  w.Timer1Tick();
  EXPECT_EQ(w.lSplash->text(), QString());
  w.Timer1Tick();
  EXPECT_EQ(w.lSplash->text(), QStringLiteral("Loading..."));
  w.Timer1Tick();
  // Set while blanked: shown at once, then blinks from the next tick.
  progress.SetCaption("Sending...");
  w.Timer1Tick();
  EXPECT_EQ(w.lSplash->text(), QString());
  w.Timer1Tick();
  EXPECT_EQ(w.lSplash->text(), QStringLiteral("Sending..."));
}

TEST(ProgressWindow, ClosingAsksAndOnlyYesAborts) {
  ScriptedDialogs dialogs;
  mc303::SharedFlags flags;
  ui::QtProgressWindow progress(dialogs, flags);
  progress.SetCaption("Loading...");
  progress.Show();
  ui::fSplash* first = progress.Window();

  dialogs.answers = {ui::Answer::No, ui::Answer::Cancel, ui::Answer::Yes};
  for (int attempt = 0; attempt < 2; ++attempt) {
    first->close();
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(flags.AbortRequested);
  }
  first->close();
  EXPECT_FALSE(first->isVisible());
  EXPECT_TRUE(flags.AbortRequested);
  ASSERT_EQ(dialogs.messages.size(), 3u);
  EXPECT_EQ(dialogs.messages[0].text, "Do you want to abort?");
  EXPECT_EQ(dialogs.messages[0].title, "Question");
  EXPECT_EQ(dialogs.messages[0].buttons, ui::Buttons::YesNoCancel);

  // The next use gets a new window with its first label and nothing saved.
  progress.Show();
  EXPECT_NE(progress.Window(), nullptr);
  EXPECT_FALSE(progress.Window()->Closed());
  EXPECT_EQ(progress.Window()->lSplash->text(), QStringLiteral("Please Wait..."));
  EXPECT_TRUE(progress.Window()->SavedCaption.empty());
  // Hiding by the caller asks nothing.
  progress.Hide();
  EXPECT_EQ(dialogs.messages.size(), 3u);
}

TEST(HelpWindow, ShowsEveryLineWholeWithCrLf) {
  TempDir dir("help");
  // A comma, quotes and trailing blanks stay; CR LF, LF and a last line without a
  // break all end as CR LF.
  WriteFile(dir.path / "README.TXT", "Hello, world\r\n42\n\"quoted\"  \nlast");
  EXPECT_EQ(ui::HelpText(dir.path), "Hello, world\r\n42\r\n\"quoted\"  \r\nlast\r\n");

  // The help text the project ships.
  fs::copy_file(fs::path(VZ_EXAMPLES_DIR) / ".." / "README.TXT", dir.path / "README.TXT",
                fs::copy_options::overwrite_existing);
  ui::fHelp help(dir.path);
  EXPECT_EQ(help.tBoxText.Text().substr(0, 31), "VELK'S MC303 VEZORIZER - HELP\r\n");
  EXPECT_EQ(help.windowTitle(), QStringLiteral("Help Information"));
  EXPECT_TRUE(help.tBox->isReadOnly());
  help.show();
  SaveScreenshot(help, "fHelp");
}

TEST(HelpWindow, SaysSoWhenTheFileIsMissingOrUnreadable) {
  TempDir dir("nohelp");
  EXPECT_EQ(ui::HelpText(dir.path), "No help file available.");
  fs::create_directory(dir.path / "README.TXT");  // there, but nothing can be read from it
  EXPECT_EQ(ui::HelpText(dir.path), "Error reading help file.");
}

struct SettingsCase {
  const char* name;
  bool fileExists;
  const char* fileText;
  int size;
  const char* box;
  const char* fileAfterOpening;  // what the window leaves in SETTINGS.DAT
};

class SpeedWindow : public ::testing::TestWithParam<SettingsCase> {};

// The window reads the file when start-up did not, shows the size and writes it back,
// unless the box's text did not change (a size of 0 shows as an empty box).
TEST_P(SpeedWindow, ShowsTheSizeReadFromTheFile) {
  const SettingsCase& c = GetParam();
  TempDir dir(std::string("speed-") + c.name);
  if (c.fileExists) WriteFile(dir.path / "SETTINGS.DAT", c.fileText);
  ScriptedDialogs dialogs;
  settings::Settings settings(dir.path, dialogs);
  ui::fTBufSiz window(settings);
  window.Load();
  EXPECT_EQ(settings.TransmitBufferSize, c.size);
  EXPECT_EQ(window.tBufSiz->text().toStdString(), c.box);
  EXPECT_EQ(Slurp(dir.path / "SETTINGS.DAT"), c.fileAfterOpening);
  EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SpeedWindow,
    ::testing::Values(SettingsCase{"NoFile", false, "", 139, "139", "139\r\n"},
                      SettingsCase{"AfterComma", true, "1024,77\r\n", 1024, "1024", "1024\r\n"},
                      SettingsCase{"NotANumber", true, "abc\r\n", 0, "", "abc\r\n"},
                      SettingsCase{"HalfRoundsDownToEven", true, "2.5\r\n", 2, "2", "2\r\n"},
                      SettingsCase{"HalfRoundsUpToEven", true, "3.5\r\n", 4, "4", "4\r\n"},
                      SettingsCase{"EmptyFile", true, "", 139, "139", "139\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SpeedWindowTyping, EveryKeystrokeSavesAndAnOverflowPuts139Back) {
  TempDir dir("typing");
  ScriptedDialogs dialogs;
  settings::Settings settings(dir.path, dialogs);
  ui::fTBufSiz window(settings);
  window.Load();
  window.show();
  SaveScreenshot(window, "fTBufSiz");
  const fs::path file = dir.path / "SETTINGS.DAT";

  window.tBufSiz->setFocus();
  window.tBufSiz->end(false);
  QKeyEvent two(QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"));
  QCoreApplication::sendEvent(window.tBufSiz, &two);
  EXPECT_EQ(Slurp(file), "1392\r\n");
  EXPECT_EQ(settings.TransmitBufferSize, 1392);
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QCoreApplication::sendEvent(window.tBufSiz, &back);
  EXPECT_EQ(Slurp(file), "139\r\n");

  // 13 900 000 000 is past the 32-bit range.
  for (int i = 0; i < 8; ++i) {
    QKeyEvent zero(QEvent::KeyPress, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"));
    QCoreApplication::sendEvent(window.tBufSiz, &zero);
  }
  EXPECT_EQ(window.tBufSiz->text(), QStringLiteral("139"));
  EXPECT_EQ(Slurp(file), "139\r\n");
  EXPECT_EQ(settings.TransmitBufferSize, 139);
}

}  // namespace
