// Modal message boxes and the open/save file dialog, as every handler of the program
// uses them. The window program answers with Qt; tests answer from a script.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace roles {

enum class Buttons { Ok, YesNoCancel, YesNo };
enum class Icon { None, Exclamation, Question, Information, Critical };
enum class Answer { Ok, Yes, No, Cancel };

// File filters as "label|pattern;pattern|label|pattern": the Save dialogs write .SYX;
// Add also takes a MIDI file, for its SysEx. A pattern matches its name in any case.
inline constexpr std::string_view kSyxFilter = "SYX files|*.syx";
inline constexpr std::string_view kAddFilter = "SYX and MIDI files|*.syx;*.mid|SYX files|*.syx|MIDI files|*.mid";

// A question put with Ask while it waits for its answer; destroying it takes the
// question away unanswered.
class OpenQuestion {
 public:
  virtual ~OpenQuestion() = default;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // An empty title shows the application's title. Blocks until the user answers.
  virtual Answer MessageBox(std::string_view text, Buttons buttons = Buttons::Ok, std::string_view title = {},
                            Icon icon = Icon::None) = 0;

  // A question that does not hold up the work under way (a Send's bytes must keep
  // going while the user makes up their mind): Ask returns at once and onAnswer runs
  // later, on the user-interface thread, with the button pressed. owner is the window
  // the question belongs to, in the implementation's own kind (a QWidget* for the Qt
  // dialogs), or null for the main window. Without windows to stay open in, the
  // question is a message box: onAnswer has run when Ask returns, and nothing is open.
  virtual std::unique_ptr<OpenQuestion> Ask(std::string_view text, Buttons buttons, std::string_view title, Icon icon,
                                            std::function<void(Answer)> onAnswer, void* owner = nullptr) {
    (void)owner;
    onAnswer(MessageBox(text, buttons, title, icon));
    return nullptr;
  }

  // The chosen full path, or nothing when the user cancelled or the dialog failed.
  // Each dialog opens on the name chosen last, whatever it was chosen for.
  virtual std::optional<std::string> SaveFileDialog(std::string_view title, std::string_view filter) = 0;
  virtual std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view filter) = 0;
};

}  // namespace roles
