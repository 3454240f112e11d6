// vezorizer: the window program. Sets up Qt, finds the program's directory and hands
// the real MIDI layer, dialogs and event pump to Main.
#include <QApplication>
#include <filesystem>

#include "app/CloseOnSignals.h"
#include "app/Program.h"
#include "app/ProgramDirectory.h"
#include "app/QtEventPump.h"
#include "midi/RtMidiPorts.h"
#include "ui/QtDialogs.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vezorizer"));
  // The desktop entry's name without ".desktop": Wayland's app id, and what window
  // managers match the windows to the entry (and its icon) by.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vezorizer.vezorizer"));
  // No application display name: Qt would append it to every window's title, and each
  // box and window carries exactly its own caption. Boxes without one show
  // ui::kApplicationTitle themselves.
  // The receive loop ends the program, through QuitRequested, not Qt's last window.
  QApplication::setQuitOnLastWindowClosed(false);

  const std::filesystem::path executableDirectory = app::PathFromQt(QCoreApplication::applicationDirPath());
  const std::filesystem::path programDirectory = app::ChooseProgramDirectory(
      executableDirectory, app::UserDataDirectory(), {executableDirectory, executableDirectory / VZ_INSTALLED_DATA_FROM_BIN});

  midi::RtMidiPorts ports;
  ui::QtDialogs dialogs;
  app::QtEventPump pump;
  app::Program program({ports, dialogs, pump, programDirectory});
  dialogs.SetParent(&program.Window());
  app::CloseOnSignals closeOnSignals([&program] { program.EndOnSignal(); });
  return program.Main();
}
