// The widget mirror of a text box: positions between widget and model (a CR LF pair is
// one widget character and two model characters; a multi-byte character is one of
// each) and user edits that the model cuts to its maximum length. Keys, carets and
// selections in the Files box are the window's tests (tests/app), through the list
// they remove from and the added file they show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/UserInput.h"
#include "roles/TextBox.h"
#include "ui/TextBoxView.h"

namespace {

using ui::TextBoxView;

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
