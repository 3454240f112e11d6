#include "ui/fTitle.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Placement.h"
#include "ui/Twips.h"

namespace ui {

fTitle::fTitle(session::TitleState& state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), state_(state) {
  setObjectName(QStringLiteral("fTitle"));
  const double scale = ScreenScale(this);
  setFixedSize(TwipsToPixels(7800, scale), TwipsToPixels(3000, scale));

  fFrame = new QFrame(this);
  fFrame->setFrameShape(QFrame::Box);
  fFrame->setLineWidth(2);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(6, 6, 6, 6);
  outer->addWidget(fFrame);

  Label1 = new QLabel(QStringLiteral("Velk's MC-303 Vezorizer"), fFrame);
  QFont big(QStringLiteral("Times New Roman"));
  big.setStyleHint(QFont::Serif);
  big.setPointSize(24);
  big.setBold(true);
  Label1->setFont(big);
  Label3 = new QLabel(QStringLiteral("1.2"), fFrame);
  QFont version(QStringLiteral("Lucida Console"));
  version.setStyleHint(QFont::Monospace);
  version.setPointSize(20);
  Label3->setFont(version);
  Label4 = new QLabel(QStringLiteral("An MC-303 Groovebox librarian by Velk"), fFrame);
  for (QLabel* l : {Label1, Label3, Label4}) l->setAlignment(Qt::AlignCenter);

  auto* inner = new QVBoxLayout(fFrame);
  inner->addStretch(1);
  inner->addWidget(Label1);
  inner->addWidget(Label3);
  inner->addStretch(1);
  inner->addWidget(Label4);

  Timer1.setInterval(100);
  connect(&Timer1, &QTimer::timeout, this, &fTitle::Timer1Tick);
  setFocusPolicy(Qt::StrongFocus);
}

void fTitle::Load(const QWidget* mainWindow) {
  if (!state_.TitleDismissed) state_.TitleCountdown = session::kTitleTicks;
  CentreOver(*this, mainWindow);
  show();
  raise();
  activateWindow();
  setFocus();
  Timer1.start();
}

void fTitle::Timer1Tick() {
  if (state_.TitleCountdown > 0) --state_.TitleCountdown;
  if (state_.TitleCountdown == 0) {
    Timer1.stop();
    Dismiss();
  }
}

void fTitle::keyPressEvent(QKeyEvent* event) {
  event->accept();
  Dismiss();
}

void fTitle::closeEvent(QCloseEvent* event) {
  // However it goes (its own countdown, a key, the window manager), nothing may wait
  // on it any longer.
  Timer1.stop();
  state_.TitleDismissed = true;
  event->accept();
}

void fTitle::Dismiss() {
  state_.TitleDismissed = true;
  close();
}

}  // namespace ui
