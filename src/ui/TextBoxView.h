// The widget that shows one roles::TextBox in a window. The box model holds the exact text
// (CR LF pairs, hard maximum length, caret and selection in the program's own
// positions); the widget only displays it, each CR LF pair as one line break, and
// passes the user's caret, selection, keys or edits back to the model.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "roles/TextBox.h"

class QKeyEvent;
class QResizeEvent;

namespace ui {

// A model text as the widget shows it, with the way back from every widget position.
// Model text is UTF-8 where it decodes and one character per byte where it does not;
// a CR LF pair, a lone CR and a lone LF are each one line break. Model positions count
// characters (TextBox); widget positions count UTF-16 units, two for a character
// beyond the first 65536.
struct BoxDisplay {
  QString text;
  std::vector<int> modelAt;  // model position of each widget position, and of the end

  int ToModel(int viewPosition) const;
  // The widget position of the character holding this model position.
  int ToView(int modelPosition) const;
};

BoxDisplay MakeBoxDisplay(std::string_view model);
// What a user's edit in the widget means for the model: every line break becomes CR LF.
std::string ModelFromDisplay(const QString& shown);

class TextBoxView final : public QPlainTextEdit {
 public:
  enum class Editing {
    None,  // read-only; the user may select and copy
    Keys,  // every key is handed to the handlers and then discarded; caret and selection by mouse
    Text,  // the user types into the box, and each edit replaces the model's text
  };

  TextBoxView(roles::TextBox& model, Editing editing, bool horizontalScroll, bool verticalScroll,
              QWidget* parent = nullptr);
  ~TextBoxView() override;

  // Runs after every change of the model's text, for owners that act on changes too
  // (the transmit buffer size box saves its setting).
  void SetAfterChange(std::function<void()> afterChange) { afterChange_ = std::move(afterChange); }
  // Editing::Keys: the key code (8 Backspace, 46 Delete, letters and digits as their
  // upper-case character codes, 0 for other keys) and the typed character code, control
  // codes included (Ctrl+H types 8).
  std::function<void(int)> OnKeyDown;
  std::function<void(int)> OnKeyPress;

  roles::TextBox& Model() { return model_; }
  // Shows the model's text now rather than at the next pass of the event loop.
  void CatchUp();

  // Keeps the last line in sight as the text changes and the box is resized, for a box
  // whose newest lines come last.
  void SetFollowEnd(bool followEnd);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ModelChanged();
  void Refresh();
  void FollowEnd();
  void ScrollIntoView(int modelPosition);
  void ApplyCaret();
  void CaretMoved();
  void UserEdited();

  roles::TextBox& model_;
  Editing editing_;
  BoxDisplay display_;
  bool applying_ = false;     // the widget is being set from the model: its signals are ours
  bool userEditing_ = false;  // the model is taking the user's edit
  bool followEnd_ = false;
  bool refreshPending_ = false;  // the model changed since the widget last showed it
  std::function<void()> afterChange_;
};

}  // namespace ui
