// HelpWindow: the help window, which shows README.TXT from the program's directory line by
// line. Created by the main window's Help button; closing it destroys it, so the next
// Help reads the file afresh.
#pragma once

#include <QWidget>
#include <filesystem>
#include <string>

#include "roles/TextBox.h"

namespace ui {

class TextBoxView;

inline constexpr const char* kHelpFileName = "README.TXT";
inline constexpr const char* kNoHelpFile = "No help file available.";
inline constexpr const char* kHelpReadError = "Error reading help file.";

// The help box's text for this directory: every line of README.TXT, commas, quotes and
// blanks included, each ended by CR LF; or one of the two notices above.
std::string HelpText(const std::filesystem::path& programDirectory);

class HelpWindow final : public QWidget {
 public:
  explicit HelpWindow(const std::filesystem::path& programDirectory, QWidget* parent = nullptr);
  ~HelpWindow() override;
  // True once the user has closed it: the owner then makes a new one.
  bool Closed() const { return closed_; }

  roles::TextBox helpText{0};
  TextBoxView* helpBox;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape closes it.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool closed_ = false;
};

}  // namespace ui
