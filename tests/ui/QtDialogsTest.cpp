// The Qt message box as the handlers see it: the application's title when none is
// given, the buttons asked for, and the answer of the button pressed. The box is
// answered by a timer that fires inside its modal loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <vector>

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

// Ask shows the box over its owner only and returns at once; the answer comes when a
// button is pressed. A question taken back goes without an answer.
TEST(QtDialogs, AskDoesNotWaitAndAnswersWhenAButtonIsPressed) {
  ui::QtDialogs dialogs;
  QWidget owner;
  owner.show();
  std::vector<roles::Answer> answers;
  const auto ask = [&] {
    return dialogs.Ask("?", roles::Buttons::YesNoCancel, "", roles::Icon::Question,
                       [&answers](roles::Answer a) { answers.push_back(a); }, &owner);
  };
  auto question = ask();
  auto* box = owner.findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible() && box->windowModality() == Qt::WindowModal && answers.empty());
  box->button(QMessageBox::No)->click();
  ask().reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(answers, std::vector<roles::Answer>{roles::Answer::No});
  EXPECT_EQ(owner.findChild<QMessageBox*>(), nullptr);
}

// What the Add dialog offers and lists, as the user sees it: each file type as a person
// writes it, matching the extension in any case.
TEST(QtDialogs, TheFileTypesReadAsWrittenAndMatchTheExtensionInAnyCase) {
  EXPECT_EQ(ui::QtFilter(roles::kSyxFilter), QStringLiteral("SYX files (*.syx) (*.[sS][yY][xX])"));
  QTemporaryDir dir;
  for (const char* name : {"a.SYX", "b.syx", "c.Mid", "d.txt", "e.syx.txt"}) {
    QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
  }
  ui::QtDialogs dialogs;
  QStringList types, listed;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) types << combo->itemText(i);
    dialog->setDirectory(dir.path());
    auto* model = dialog->findChild<QFileSystemModel*>();
    const QModelIndex root = model->index(dir.path());
    for (QDeadlineTimer deadline(5000); model->rowCount(root) < 3 && !deadline.hasExpired();) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    for (int r = 0; r < model->rowCount(root); ++r) listed << model->index(r, 0, root).data().toString();
    dialog->reject();
  });
  (void)dialogs.OpenFileDialog("Add", roles::kAddFilter);
  EXPECT_EQ(types, (QStringList{"SYX and MIDI files (*.syx *.mid)", "SYX files (*.syx)", "MIDI files (*.mid)"}));
  listed.sort();
  EXPECT_EQ(listed, (QStringList{"a.SYX", "b.syx", "c.Mid"}));
}

}  // namespace
