// vezorizer: the window program. Sets up Qt, finds the program's directory and hands
// the real MIDI layer, dialogs and event pump to Main.
#include <QApplication>
#include <QStandardPaths>
#include <filesystem>

#include "app/CloseOnSignals.h"
#include "app/Program.h"
#include "app/ProgramDirectory.h"
#include "app/QtEventPump.h"
#include "midi/RtMidiPorts.h"
#include "ui/QtDialogs.h"

namespace {

std::filesystem::path FromQt(const QString& path) {
#ifdef _WIN32
  return std::filesystem::path(path.toStdWString());
#else
  return std::filesystem::path(path.toLocal8Bit().toStdString());
#endif
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vezorizer"));
  // No application display name: Qt would append it to every window's title, and each
  // box and window carries exactly its own caption. Boxes without one show
  // ui::kApplicationTitle themselves.
  // The receive loop ends the program, through QuitRequested, not Qt's last window.
  QApplication::setQuitOnLastWindowClosed(false);

  const std::filesystem::path executableDirectory = FromQt(QCoreApplication::applicationDirPath());
  const std::filesystem::path programDirectory = app::ChooseProgramDirectory(
      executableDirectory, FromQt(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
      {executableDirectory, executableDirectory / VZ_INSTALLED_DATA_FROM_BIN});

  midi::RtMidiPorts ports;
  ui::QtDialogs dialogs;
  app::QtEventPump pump;
  app::Program program({ports, dialogs, pump, programDirectory});
  dialogs.SetParent(&program.Window());
  app::CloseOnSignals closeOnSignals([&program] { program.EndOnSignal(); });
  return program.Main();
}
