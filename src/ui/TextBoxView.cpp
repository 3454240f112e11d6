#include "ui/TextBoxView.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace ui {
namespace {

// The character a key types, or 0. Where the platform gives Ctrl with a letter no text,
// it types the letter's control code all the same: Ctrl+H is 8, as Backspace types.
int TypedCharacter(const QKeyEvent& event) {
  const QString typed = event.text();
  if (typed.size() == 1) return typed.at(0).unicode();
  const int key = event.key();
  if (typed.isEmpty() && event.modifiers() == Qt::ControlModifier && key >= Qt::Key_A && key <= Qt::Key_Z) {
    return key - Qt::Key_A + 1;
  }
  return 0;
}

}  // namespace

int BoxDisplay::ToModel(int viewPosition) const {
  const int last = static_cast<int>(modelAt.size()) - 1;
  return modelAt[static_cast<std::size_t>(std::clamp(viewPosition, 0, last))];
}

int BoxDisplay::ToView(int modelPosition) const {
  // The first widget position whose model position is not before it: a model position
  // between the CR and LF of a pair lands on that line break.
  const auto it = std::lower_bound(modelAt.begin(), modelAt.end(), modelPosition);
  if (it == modelAt.end()) return static_cast<int>(modelAt.size()) - 1;
  const int v = static_cast<int>(it - modelAt.begin());
  return *it == modelPosition || v == 0 ? v : v - 1;
}

BoxDisplay MakeBoxDisplay(std::string_view model) {
  BoxDisplay d;
  d.text.reserve(static_cast<qsizetype>(model.size()));
  d.modelAt.reserve(model.size() + 1);
  int at = 0;  // the model's character position
  std::size_t i = 0;
  while (i < model.size()) {
    const char c = model[i];
    if (c == '\r' || c == '\n') {
      d.text.append(QChar('\n'));
      d.modelAt.push_back(at);
      const bool pair = c == '\r' && i + 1 < model.size() && model[i + 1] == '\n';
      i += pair ? 2 : 1;
      at += pair ? 2 : 1;
      continue;
    }
    char32_t cp = 0;
    const int n = roles::Utf8Sequence(model, i, cp);
    if (n == 0) {
      d.text.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
      d.modelAt.push_back(at);
    } else if (cp > 0xFFFF) {
      const char32_t v = cp - 0x10000;
      d.text.append(QChar(static_cast<char16_t>(0xD800 + (v >> 10))));
      d.text.append(QChar(static_cast<char16_t>(0xDC00 + (v & 0x3FF))));
      d.modelAt.push_back(at);
      d.modelAt.push_back(at);
    } else {
      d.text.append(QChar(static_cast<char16_t>(cp)));
      d.modelAt.push_back(at);
    }
    i += static_cast<std::size_t>(std::max(n, 1));
    ++at;
  }
  d.modelAt.push_back(at);
  return d;
}

std::string ModelFromDisplay(const QString& shown) {
  const QByteArray utf8 = shown.toUtf8();
  std::string model;
  model.reserve(static_cast<std::size_t>(utf8.size()));
  for (const char c : utf8) {
    // QPlainTextEdit hands paragraph breaks back as LF (or U+2029, already mapped).
    if (c == '\n') {
      model += "\r\n";
    } else {
      model += c;
    }
  }
  return model;
}

TextBoxView::TextBoxView(roles::TextBox& model, Editing editing, bool horizontalScroll, bool verticalScroll,
                         QWidget* parent)
    : QPlainTextEdit(parent), model_(model), editing_(editing) {
  setHorizontalScrollBarPolicy(horizontalScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(verticalScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  // A box with a horizontal scroll bar keeps each line whole; the others wrap.
  setLineWrapMode(horizontalScroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  setUndoRedoEnabled(false);
  if (editing == Editing::None || editing == Editing::Keys) {
    // Read-only keeps pasting, dropping and the context menu's edits out; the caret
    // stays visible so a line can be marked for removal.
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  model_.SetOnChange([this] {
    ModelChanged();
    if (afterChange_) afterChange_();
  });
  model_.SetOnCaret([this] {
    CatchUp();
    ApplyCaret();
  });
  model_.SetOnScroll([this](int position) {
    CatchUp();
    ScrollIntoView(position);
  });
  connect(this, &QPlainTextEdit::cursorPositionChanged, this, &TextBoxView::CaretMoved);
  connect(this, &QPlainTextEdit::selectionChanged, this, &TextBoxView::CaretMoved);
  if (editing == Editing::Text) connect(this, &QPlainTextEdit::textChanged, this, &TextBoxView::UserEdited);
  Refresh();
}

TextBoxView::~TextBoxView() {
  // The model outlives the window in tests and in the program's shut-down.
  model_.SetOnChange({});
  model_.SetOnCaret({});
  model_.SetOnScroll({});
}

void TextBoxView::SetFollowEnd(bool followEnd) {
  followEnd_ = followEnd;
  FollowEnd();
}

void TextBoxView::FollowEnd() {
  if (followEnd_) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TextBoxView::ScrollIntoView(int modelPosition) {
  const QTextBlock block = document()->findBlock(display_.ToView(modelPosition));
  if (!block.isValid()) return;
  // The bar counts lines, the first one in sight being its value. A line out of sight
  // comes to the middle, where the lines around it are seen too.
  QScrollBar* bar = verticalScrollBar();
  const int line = block.firstLineNumber();
  const int lines = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
  if (line >= bar->value() && line < bar->value() + lines) return;
  bar->setValue(line - lines / 2);
}

void TextBoxView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  FollowEnd();
}

void TextBoxView::ModelChanged() {
  // The core may write a box thousands of times a second (the Traffic box a byte at a
  // time while a Send reads its files), far more often than anyone can see it, and
  // laying the widget's text out anew each time held the writer up by a good part of a
  // millisecond a byte. So the widget catches up once, at the next pass of the event
  // loop, or at once where it must: while the user types, and before the caret is placed.
  if (userEditing_) {
    Refresh();
    return;
  }
  if (refreshPending_) return;
  refreshPending_ = true;
  QMetaObject::invokeMethod(this, [this] { CatchUp(); }, Qt::QueuedConnection);
}

void TextBoxView::CatchUp() {
  if (!refreshPending_) return;
  refreshPending_ = false;
  Refresh();
}

void TextBoxView::Refresh() {
  BoxDisplay next = MakeBoxDisplay(model_.Text());
  if (next.text == display_.text) {
    display_ = std::move(next);  // same characters, maybe other CR LF forms
    return;
  }
  display_ = std::move(next);
  applying_ = true;
  setPlainText(display_.text);
  applying_ = false;
  if (userEditing_) {
    // The model cut what was typed: go on typing at its end.
    moveCursor(QTextCursor::End);
    return;
  }
  ApplyCaret();
  FollowEnd();
}

void TextBoxView::ApplyCaret() {
  // While the user types or moves the caret, the widget's caret is the right one and
  // the model follows it.
  if (userEditing_ || applying_) return;
  const int start = display_.ToView(model_.SelStart());
  const int end = display_.ToView(model_.SelStart() + model_.SelLength());
  QTextCursor c = textCursor();
  if (c.anchor() == start && c.position() == end) return;
  applying_ = true;
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  setTextCursor(c);
  applying_ = false;
}

void TextBoxView::CaretMoved() {
  if (applying_) return;
  const QTextCursor c = textCursor();
  const int start = display_.ToModel(std::min(c.anchor(), c.position()));
  const int end = display_.ToModel(std::max(c.anchor(), c.position()));
  applying_ = true;
  model_.SetSelection(start, end - start);
  applying_ = false;
}

void TextBoxView::UserEdited() {
  if (applying_) return;
  std::string typed = ModelFromDisplay(toPlainText());
  display_ = MakeBoxDisplay(typed);  // what the widget shows now
  userEditing_ = true;
  model_.SetText(std::move(typed));
  userEditing_ = false;
}

void TextBoxView::keyPressEvent(QKeyEvent* event) {
  if (editing_ != Editing::Keys) {
    QPlainTextEdit::keyPressEvent(event);
    return;
  }
  const int key = event->key();
  int code = 0;
  if (key == Qt::Key_Backspace) {
    code = 8;
  } else if (key == Qt::Key_Delete) {
    code = 46;
  } else if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) ||
             key == Qt::Key_Space) {
    code = key;
  }
  if (OnKeyDown) OnKeyDown(code);
  // Backspace and Delete have already acted as keys; their characters (8, and 127 on
  // X11) would only remove nothing and read the whole list a second time.
  const int typed = TypedCharacter(*event);
  if (key != Qt::Key_Backspace && key != Qt::Key_Delete && typed != 0 && OnKeyPress) OnKeyPress(typed);
  event->accept();  // the box itself never acts on a key
}

}  // namespace ui
