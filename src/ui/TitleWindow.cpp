#include "ui/TitleWindow.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Placement.h"
#include "ui/Twips.h"

namespace ui {

TitleWindow::TitleWindow(session::TitleState& state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), state_(state) {
  setObjectName(QStringLiteral("TitleWindow"));
  const double scale = ScreenScale(this);
  setFixedSize(TwipsToPixels(7800, scale), TwipsToPixels(3000, scale));

  frame = new QFrame(this);
  frame->setFrameShape(QFrame::Box);
  frame->setLineWidth(2);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(6, 6, 6, 6);
  outer->addWidget(frame);

  nameLabel = new QLabel(QStringLiteral("Velk's MC-303 Vezorizer"), frame);
  QFont big(QStringLiteral("Times New Roman"));
  big.setStyleHint(QFont::Serif);
  big.setPointSize(24);
  big.setBold(true);
  nameLabel->setFont(big);
  versionLabel = new QLabel(QStringLiteral("1.2"), frame);
  QFont version(QStringLiteral("Lucida Console"));
  version.setStyleHint(QFont::Monospace);
  version.setPointSize(20);
  versionLabel->setFont(version);
  bylineLabel = new QLabel(QStringLiteral("An MC-303 Groovebox librarian by Velk"), frame);
  for (QLabel* l : {nameLabel, versionLabel, bylineLabel}) l->setAlignment(Qt::AlignCenter);

  auto* inner = new QVBoxLayout(frame);
  inner->addStretch(1);
  inner->addWidget(nameLabel);
  inner->addWidget(versionLabel);
  inner->addStretch(1);
  inner->addWidget(bylineLabel);

  Timer1.setInterval(100);
  connect(&Timer1, &QTimer::timeout, this, &TitleWindow::Timer1Tick);
  setFocusPolicy(Qt::StrongFocus);
}

void TitleWindow::Load(const QWidget* mainWindow) {
  if (!state_.TitleDismissed) state_.TitleCountdown = session::kTitleTicks;
  CentreOver(*this, mainWindow);
  show();
  raise();
  activateWindow();
  setFocus();
  Timer1.start();
}

void TitleWindow::Timer1Tick() {
  if (state_.TitleCountdown > 0) --state_.TitleCountdown;
  if (state_.TitleCountdown == 0) {
    Timer1.stop();
    Dismiss();
  }
}

void TitleWindow::keyPressEvent(QKeyEvent* event) {
  event->accept();
  Dismiss();
}

void TitleWindow::closeEvent(QCloseEvent* event) {
  // However it goes (its own countdown, a key, the window manager), nothing may wait
  // on it any longer.
  Timer1.stop();
  state_.TitleDismissed = true;
  event->accept();
}

void TitleWindow::Dismiss() {
  state_.TitleDismissed = true;
  close();
}

}  // namespace ui
