// Message boxes and file dialogs on Qt: what every handler of the window program shows.
// Tests use ScriptedDialogs instead.
#pragma once

#include <QString>
#include <string>

#include "roles/Dialogs.h"

class QWidget;

namespace ui {

inline constexpr const char* kApplicationTitle = "Velk's MC303 Vezorizer";

class QtDialogs final : public roles::Dialogs {
 public:
  // parent: the window the boxes centre on; may be null before the main window exists.
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  roles::Answer MessageBox(std::string_view text, roles::Buttons buttons, std::string_view title,
                           roles::Icon icon) override;
  // A box modal to its owner window only (the main window when none is given), so
  // that the event loop, and whatever runs in it, goes on while it is open.
  std::unique_ptr<roles::OpenQuestion> Ask(std::string_view text, roles::Buttons buttons, std::string_view title,
                                           roles::Icon icon, std::function<void(roles::Answer)> onAnswer,
                                           void* owner) override;
  std::optional<std::string> SaveFileDialog(std::string_view title, std::string_view filter) override;
  std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view filter) override;

 private:
  std::optional<std::string> FileDialog(bool save, std::string_view title, std::string_view filter);

  QWidget* parent_;
  // The program has one file dialog: each opens on the name chosen last.
  QString lastName_;
};

// A "label|pattern;pattern|label|pattern" filter as Qt writes it, a line per label:
// shown as "label (patterns)", each pattern matching its name in any case, since files
// from other systems arrive as .syx as often as .SYX.
QString QtFilter(std::string_view filter);

}  // namespace ui
