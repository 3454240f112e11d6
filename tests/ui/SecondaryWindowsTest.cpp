// The progress, help and transmit buffer size windows, offscreen, with their timers
// ticked by hand. The progress window leaves a screenshot in the build folder.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "fakes/ScriptedDialogs.h"
#include "settings/Settings.h"
#include "support/RunCli.h"
#include "support/UserInput.h"
#include "ui/TextBoxView.h"
#include "ui/HelpWindow.h"
#include "ui/ProgressDialog.h"
#include "ui/SpeedWindow.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path = FreshDir("ui-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
  ~TempDir() { fs::remove_all(path); }
};

void SaveScreenshot(QWidget& w, const char* name) {
  fs::create_directories(VZ_SCREENSHOT_DIR);
  ASSERT_TRUE(w.grab().save(QString::fromUtf8(VZ_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// Closing it is the Send's test on the event loop (tests/app).
TEST(ProgressWindow, LabelBlinksTheLatestCaption) {
  ScriptedDialogs dialogs;
  mc303::SharedFlags flags;
  ui::QtProgressWindow progress(dialogs, flags);
  progress.SetCaption("Loading...");
  progress.Show();
  ui::ProgressDialog* w = progress.Window();
  EXPECT_EQ(w->windowTitle(), QStringLiteral("             Operation in Progress"));
  SaveScreenshot(*w, "ProgressDialog");
  const QString loading = QStringLiteral("Loading..."), sending = QStringLiteral("Sending...");
  const QString blink[] = {QString(), loading, QString(), QString(), sending};
  for (int tick = 0; tick < 5; ++tick) {
    w->Timer1Tick();
    EXPECT_EQ(w->captionLabel->text(), blink[tick]) << "tick " << tick;
    if (tick == 2) progress.SetCaption("Sending...");  // set while blanked: blinks from the next tick
  }
  progress.Hide();
  EXPECT_TRUE(dialogs.messages.empty()) << "hiding by the caller asks nothing";
}

TEST(HelpWindow, ShowsEveryLineWholeWithCrLfOrSaysWhyItCannot) {
  TempDir dir;
  EXPECT_EQ(ui::HelpText(dir.path), "No help file available.");
  fs::create_directory(dir.path / "README.TXT");  // there, but nothing can be read from it
  EXPECT_EQ(ui::HelpText(dir.path), "Error reading help file.");
  fs::remove(dir.path / "README.TXT");
  // A comma, quotes and trailing blanks stay; CR LF, LF and a last line without a
  // break all end as CR LF.
  std::ofstream(dir.path / "README.TXT", std::ios::binary) << "Hello, world\r\n42\n\"quoted\"  \nlast";
  EXPECT_EQ(ui::HelpText(dir.path), "Hello, world\r\n42\r\n\"quoted\"  \r\nlast\r\n");

  // The help text the project ships.
  fs::copy_file(fs::path(VZ_EXAMPLES_DIR) / ".." / "README.TXT", dir.path / "README.TXT",
                fs::copy_options::overwrite_existing);
  ui::HelpWindow help(dir.path);
  EXPECT_EQ(help.helpText.Text().substr(0, 31), "VELK'S MC303 VEZORIZER - HELP\r\n");
  EXPECT_TRUE(help.helpBox->isReadOnly());
}

// Opening the window writes the size it shows and every keystroke saves; what a
// file's text reads as is the settings tests' part.
TEST(SpeedWindow, EveryKeystrokeSaves) {
  TempDir dir;
  ScriptedDialogs dialogs;
  settings::Settings settings(dir.path, dialogs);
  ui::SpeedWindow window(settings);
  window.Load();
  const fs::path file = dir.path / "SETTINGS.DAT";
  EXPECT_EQ(window.sizeBox->text(), QStringLiteral("139"));
  EXPECT_EQ(Slurp(file), "139\r\n");

  window.sizeBox->setFocus();
  window.sizeBox->end(false);
  PressKey(*window.sizeBox, Qt::Key_2, QStringLiteral("2"));
  EXPECT_EQ(Slurp(file), "1392\r\n");
  EXPECT_EQ(settings.TransmitBufferSize, 1392);
  // Past the 32-bit range the size goes back to 139; an empty box saves 0.
  for (int i = 0; i < 7; ++i) PressKey(*window.sizeBox, Qt::Key_9, QStringLiteral("9"));
  EXPECT_EQ(window.sizeBox->text(), QStringLiteral("139"));
  EXPECT_EQ(Slurp(file), "139\r\n");
  EXPECT_EQ(settings.TransmitBufferSize, 139);
  window.sizeBox->selectAll();
  PressKey(*window.sizeBox, Qt::Key_Backspace, QStringLiteral("\b"));
  EXPECT_EQ(Slurp(file), "0\r\n");

  // The pause goes after the size, where the size's readers never look; the default
  // is not written, and the first label says the pause in force. Past 5000 ms it goes
  // back to 200.
  const QString saidAt200 = window.Labels[0]->text();
  EXPECT_TRUE(saidAt200.contains(QStringLiteral("insert at least 200 milliseconds between blocks")));
  window.pauseBox->setFocus();
  window.pauseBox->selectAll();
  PressKey(*window.pauseBox, Qt::Key_4, QStringLiteral("4"));
  PressKey(*window.pauseBox, Qt::Key_5, QStringLiteral("5"));
  EXPECT_EQ(Slurp(file), "0,45\r\n");
  EXPECT_TRUE(window.Labels[0]->text().contains(QStringLiteral("insert at least 45 milliseconds between blocks")));
  for (int i = 0; i < 3; ++i) PressKey(*window.pauseBox, Qt::Key_0, QStringLiteral("0"));
  EXPECT_EQ(window.pauseBox->text(), QStringLiteral("200"));
  EXPECT_EQ(Slurp(file), "0\r\n");
  EXPECT_EQ(window.Labels[0]->text(), saidAt200);
}

}  // namespace
