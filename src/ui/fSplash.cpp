#include "ui/fSplash.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Twips.h"

namespace ui {

fSplash::fSplash(roles::Dialogs& dialogs, mc303::SharedFlags& flags, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), flags_(flags) {
  setObjectName(QStringLiteral("fSplash"));
  setWindowTitle(QString::fromLatin1(kSplashCaption));
  const double scale = ScreenScale(this);
  // Room under the label for a Send's bar and time left.
  setFixedSize(TwipsToPixels(4800, scale), TwipsToPixels(2100, scale));
  lSplash = new QLabel(QString::fromLatin1(kSplashFirstLabel), this);
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(26);
  font.setBold(true);
  lSplash->setFont(font);
  lSplash->setAlignment(Qt::AlignCenter);
  pbProgress = new QProgressBar(this);
  pbProgress->setRange(0, 1000);
  lTimeLeft = new QLabel(this);
  lTimeLeft->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lSplash, 1);
  layout->addWidget(pbProgress);
  layout->addWidget(lTimeLeft);
  ClearProgress();

  Timer1.setInterval(500);
  connect(&Timer1, &QTimer::timeout, this, &fSplash::Timer1Tick);
  Timer1.start();
}

void fSplash::Timer1Tick() {
  // A caption set while the label is blanked is taken over here, so the label always
  // blinks with the latest text.
  if (!lSplash->text().isEmpty()) {
    const QByteArray text = lSplash->text().toUtf8();
    SavedCaption.assign(text.constData(), static_cast<std::size_t>(text.size()));
    lSplash->clear();
  } else {
    lSplash->setText(QString::fromUtf8(SavedCaption.data(), static_cast<qsizetype>(SavedCaption.size())));
  }
}

void fSplash::SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) {
  const std::int64_t total = std::max<std::int64_t>(totalBytes, 1);
  const std::int64_t done = std::clamp<std::int64_t>(doneBytes, 0, total);
  pbProgress->setValue(static_cast<int>(done * 1000 / total));
  const std::int64_t seconds = std::max<std::int64_t>(secondsLeft, 0);
  lTimeLeft->setText(QStringLiteral("%1 of %2 bytes, about %3:%4 left")
                         .arg(done)
                         .arg(totalBytes)
                         .arg(seconds / 60)
                         .arg(seconds % 60, 2, 10, QLatin1Char('0')));
  pbProgress->show();
  lTimeLeft->show();
}

void fSplash::ClearProgress() {
  pbProgress->hide();
  lTimeLeft->hide();
  pbProgress->setValue(0);
  lTimeLeft->clear();
}

void fSplash::closeEvent(QCloseEvent* event) {
  if (dialogs_.MessageBox(kAbortQuestion, roles::Buttons::YesNoCancel, kQuestionTitle, roles::Icon::Question) != roles::Answer::Yes) {
    event->ignore();
    return;
  }
  flags_.AbortRequested = true;
  closed_ = true;
  Timer1.stop();
  event->accept();
}

QtProgressWindow::~QtProgressWindow() = default;

fSplash& QtProgressWindow::Use() {
  // The closed window is replaced here, on the next use, never inside its own close.
  if (!window_ || window_->Closed()) window_ = std::make_unique<fSplash>(dialogs_, flags_);
  return *window_;
}

void QtProgressWindow::SetCaption(const std::string& caption) {
  Use().lSplash->setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
}

void QtProgressWindow::Show() {
  fSplash& w = Use();
  // Shown again while it is up, it stays where the user moved it and behind any window
  // brought forward since.
  if (w.isVisible()) return;
  if (owner_ != nullptr && owner_->isVisible()) {
    // Frame over frame: a window not shown yet has no frame of its own, so it is taken
    // to get the owner's.
    QRect place(QPoint(0, 0), w.size() + owner_->frameGeometry().size() - owner_->size());
    place.moveCenter(owner_->frameGeometry().center());
    w.move(place.topLeft());
  }
  w.show();
  w.raise();
}

void QtProgressWindow::Hide() {
  if (!window_ || window_->Closed()) return;
  window_->hide();
  window_->ClearProgress();
}

void QtProgressWindow::SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) {
  // Closed by the user's Yes, the window waits for its next showing to be made anew.
  if (window_ && !window_->Closed()) window_->SetProgress(doneBytes, totalBytes, secondsLeft);
}

}  // namespace ui
