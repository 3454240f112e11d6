// Modal message boxes and the open/save file dialog, as every handler of the program
// uses them. The window program answers with Qt; tests answer from a script.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace roles {

enum class Buttons { Ok, YesNoCancel, YesNo };
enum class Icon { None, Exclamation, Question, Information, Critical };
enum class Answer { Ok, Yes, No, Cancel };

// The one file filter the program offers: label and pattern are both *.SYX.
inline constexpr std::string_view kSyxFilter = "*.SYX|*.SYX";

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // An empty title shows the application's title. Blocks until the user answers.
  virtual Answer MessageBox(std::string_view text, Buttons buttons = Buttons::Ok, std::string_view title = {},
                            Icon icon = Icon::None) = 0;

  // The chosen full path, or nothing when the user cancelled or the dialog failed.
  // Each dialog opens on the name chosen last, whatever it was chosen for.
  virtual std::optional<std::string> SaveFileDialog(std::string_view title, std::string_view filter) = 0;
  virtual std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view filter) = 0;
};

}  // namespace roles
