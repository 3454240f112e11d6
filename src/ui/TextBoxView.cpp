#include "ui/TextBoxView.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QTextCursor>
#include <algorithm>

namespace ui {
namespace {

// Length of the valid UTF-8 sequence starting at i and its code point, or 0.
int Utf8Sequence(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int n = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07u;
  } else {
    return 0;
  }
  if (i + static_cast<std::size_t>(n) > s.size()) return 0;
  for (int k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and values past Unicode are not text.
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

int BoxDisplay::ToModel(int viewPosition) const {
  const int last = static_cast<int>(modelAt.size()) - 1;
  return modelAt[static_cast<std::size_t>(std::clamp(viewPosition, 0, last))];
}

int BoxDisplay::ToView(int modelPosition) const {
  // The first widget position whose model position is not before it: a model position
  // inside a CR LF pair or a multi-byte character lands on that line break or character.
  const auto it = std::lower_bound(modelAt.begin(), modelAt.end(), modelPosition);
  if (it == modelAt.end()) return static_cast<int>(modelAt.size()) - 1;
  const int v = static_cast<int>(it - modelAt.begin());
  return *it == modelPosition || v == 0 ? v : v - 1;
}

BoxDisplay MakeBoxDisplay(std::string_view model) {
  BoxDisplay d;
  d.text.reserve(static_cast<qsizetype>(model.size()));
  d.modelAt.reserve(model.size() + 1);
  std::size_t i = 0;
  while (i < model.size()) {
    const int at = static_cast<int>(i);
    const char c = model[i];
    if (c == '\r' || c == '\n') {
      d.text.append(QChar('\n'));
      d.modelAt.push_back(at);
      i += (c == '\r' && i + 1 < model.size() && model[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    char32_t cp = 0;
    const int n = Utf8Sequence(model, i, cp);
    if (n == 0) {
      d.text.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
      d.modelAt.push_back(at);
      ++i;
      continue;
    }
    if (cp > 0xFFFF) {
      const char32_t v = cp - 0x10000;
      d.text.append(QChar(static_cast<char16_t>(0xD800 + (v >> 10))));
      d.text.append(QChar(static_cast<char16_t>(0xDC00 + (v & 0x3FF))));
      d.modelAt.push_back(at);
      d.modelAt.push_back(at);
    } else {
      d.text.append(QChar(static_cast<char16_t>(cp)));
      d.modelAt.push_back(at);
    }
    i += static_cast<std::size_t>(n);
  }
  d.modelAt.push_back(static_cast<int>(model.size()));
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

TextBoxView::TextBoxView(TextBox& model, Editing editing, bool horizontalScroll, bool verticalScroll, QWidget* parent)
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
  connect(this, &QPlainTextEdit::cursorPositionChanged, this, &TextBoxView::CaretMoved);
  connect(this, &QPlainTextEdit::selectionChanged, this, &TextBoxView::CaretMoved);
  if (editing == Editing::Text) connect(this, &QPlainTextEdit::textChanged, this, &TextBoxView::UserEdited);
  Refresh();
}

TextBoxView::~TextBoxView() {
  // The model outlives the window in tests and in the program's shut-down.
  model_.SetOnChange({});
  model_.SetOnCaret({});
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
  const QString typed = event->text();
  if (key != Qt::Key_Backspace && key != Qt::Key_Delete && typed.size() == 1 && OnKeyPress) {
    const char16_t ch = typed.at(0).unicode();
    if (ch >= 0x20 || ch == 127) OnKeyPress(static_cast<int>(ch));
  }
  event->accept();  // the box itself never acts on a key
}

}  // namespace ui
