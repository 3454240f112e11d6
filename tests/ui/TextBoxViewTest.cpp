// The widget mirror of a text box: positions between widget and model (a CR LF pair is
// one widget character and two model characters; a multi-byte character is one of
// each) and user edits that the model cuts to its maximum length. Keys in the Files box
// are the window's tests (tests/app), through the list they remove from.
#include <gtest/gtest.h>

#include <QTextCursor>
#include <QCoreApplication>
#include <string>
#include <vector>

#include "support/UserInput.h"
#include "roles/TextBox.h"
#include "ui/TextBoxView.h"

namespace {

using ui::TextBoxView;

void PlaceCursor(TextBoxView& view, int anchor, int position) {
  QTextCursor c = view.textCursor();
  c.setPosition(anchor);
  c.setPosition(position, QTextCursor::KeepAnchor);
  view.setTextCursor(c);
}

TEST(BoxDisplay, LineBreaksAndMultiByteCharactersAreOneWidgetCharacterEach) {
  // Model: a b CR LF c3 a9 (é) LF ff CR  -> widget: a b \n é \n ÿ \n
  const std::string model = "ab\r\n\xC3\xA9\n\xFF\r";
  const ui::BoxDisplay d = ui::MakeBoxDisplay(model);
  EXPECT_EQ(d.text, QString::fromUtf8("ab\n\xC3\xA9\n\xC3\xBF\n"));
  // Widget positions 0..7 start at model characters 0,1,2,4,5,6,7 and the end at 8:
  // the stray byte ff is a character of its own.
  EXPECT_EQ(d.modelAt, (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8}));
  EXPECT_EQ(d.ToView(4), 3);  // right after the CR LF pair
  EXPECT_EQ(d.ToView(3), 2);  // between CR and LF: on the line break
  EXPECT_EQ(d.ToView(8), 7);
  EXPECT_EQ(ui::ModelFromDisplay(QStringLiteral("a\nb")), "a\r\nb");
}

TEST(TextBoxView, CaretAndSelectionReachTheModelInItsOwnPositions) {
  roles::TextBox box(8192);
  TextBoxView view(box, TextBoxView::Editing::Keys, true, true);
  box.SetText("A.SYX\r\n\xC3\x89" "B.SYX\r\nC.SYX\r\nD.SYX\r\n");  // ÉB.SYX: É is one character
  QCoreApplication::processEvents();  // the widget catches up once per pass of the loop
  EXPECT_EQ(view.toPlainText(), QString::fromUtf8("A.SYX\n\xC3\x89" "B.SYX\nC.SYX\nD.SYX\n"));

  // From the middle of the second line (widget 8, model 9) to the middle of the fourth
  // (widget 6 + 7 + 6 + 3 = 22, model 7 + 8 + 7 + 3 = 25): 16 model characters.
  PlaceCursor(view, 22, 8);
  EXPECT_EQ(box.SelStart(), 9);
  EXPECT_EQ(box.SelLength(), 16);

  // And back: a selection the program sets shows in the widget.
  box.SetSelection(15, 7);  // the whole third line with its CR LF
  EXPECT_EQ(view.textCursor().selectionStart(), 13);
  EXPECT_EQ(view.textCursor().selectionEnd(), 19);
}

TEST(TextBoxView, TypingInAnEditableBoxStoresCrLfAndIsCutAtTheMaximum) {
  roles::TextBox box(6);
  TextBoxView view(box, TextBoxView::Editing::Text, true, false);
  int changes = 0;
  view.SetAfterChange([&] { ++changes; });
  PressKey(view, Qt::Key_A, QStringLiteral("a"));
  PressKey(view, Qt::Key_Return, QStringLiteral("\r"));
  PressKey(view, Qt::Key_B, QStringLiteral("b"));
  EXPECT_EQ(box.Text(), "a\r\nb");
  EXPECT_EQ(changes, 3);
  for (const char* c : {"\xC3\xA9", "d", "e"}) PressKey(view, Qt::Key_C, QString::fromUtf8(c));
  EXPECT_EQ(box.Text(), "a\r\nb\xC3\xA9" "d");  // six model characters, seven bytes
  EXPECT_EQ(view.toPlainText(), QString::fromUtf8("a\nb\xC3\xA9" "d"));
}

}  // namespace
