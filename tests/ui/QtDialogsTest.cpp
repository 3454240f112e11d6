// The Qt message box as the handlers see it: the application's title when none is
// given, the buttons asked for, and the answer of the button pressed. The box is
// answered by a timer that fires inside its modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "ui/QtDialogs.h"

namespace {

struct Seen {
  QString title, text;
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Presses `press` in the next modal message box and records what it showed.
void AnswerNextBox(Seen& seen, QMessageBox::StandardButton press) {
  QTimer::singleShot(0, [&seen, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = {box->windowTitle(), box->text(), box->standardButtons(), box->icon()};
    box->button(press)->click();
  });
}

TEST(QtDialogs, MessageBoxShowsTheApplicationTitleAndReturnsThePressedButton) {
  ui::QtDialogs dialogs;
  Seen seen;
  AnswerNextBox(seen, QMessageBox::No);
  EXPECT_EQ(dialogs.MessageBox("Do you want to abort?", roles::Buttons::YesNoCancel, "", roles::Icon::Question),
            roles::Answer::No);
  EXPECT_EQ(seen.title, QStringLiteral("Velk's MC303 Vezorizer"));
  EXPECT_EQ(seen.text, QStringLiteral("Do you want to abort?"));
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  AnswerNextBox(seen, QMessageBox::Yes);
  EXPECT_EQ(dialogs.MessageBox("Quit?", roles::Buttons::YesNo, "", roles::Icon::None), roles::Answer::Yes);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
}

TEST(QtDialogs, TheSyxFilterMatchesTheExtensionInAnyCase) {
  EXPECT_EQ(ui::QtFilter(roles::kSyxFilter), QStringLiteral("*.SYX (*.[sS][yY][xX])"));
}

}  // namespace
