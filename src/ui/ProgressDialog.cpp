#include "ui/ProgressDialog.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/Twips.h"

namespace ui {

ProgressDialog::ProgressDialog(roles::Dialogs& dialogs, mc303::SharedFlags& flags, QWidget* parent)
    // A dialog, so that the window manager keeps it above the window it belongs to.
    : QWidget(parent, Qt::Dialog), dialogs_(dialogs), flags_(flags) {
  setObjectName(QStringLiteral("ProgressDialog"));
  setWindowTitle(QString::fromLatin1(kSplashCaption));
  const double scale = ScreenScale(this);
  // Room under the label for a Send's bar and time left; narrow enough to stand over
  // the main window's Pieces, MC303 and Traffic boxes, clear of its controls.
  setFixedSize(TwipsToPixels(4200, scale), TwipsToPixels(2100, scale));
  captionLabel = new QLabel(QString::fromLatin1(kSplashFirstLabel), this);
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(26);
  font.setBold(true);
  captionLabel->setFont(font);
  captionLabel->setAlignment(Qt::AlignCenter);
  progressBar = new QProgressBar(this);
  progressBar->setRange(0, 1000);
  timeLeftLabel = new QLabel(this);
  timeLeftLabel->setAlignment(Qt::AlignCenter);
  timeLeftLabel->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(captionLabel, 1);
  layout->addWidget(progressBar);
  layout->addWidget(timeLeftLabel);
  ClearProgress();

  Timer1.setInterval(500);
  connect(&Timer1, &QTimer::timeout, this, &ProgressDialog::Timer1Tick);
  Timer1.start();
}

void ProgressDialog::Timer1Tick() {
  // A caption set while the label is blanked is taken over here, so the label always
  // blinks with the latest text.
  if (!captionLabel->text().isEmpty()) {
    const QByteArray text = captionLabel->text().toUtf8();
    SavedCaption.assign(text.constData(), static_cast<std::size_t>(text.size()));
    captionLabel->clear();
  } else {
    captionLabel->setText(QString::fromUtf8(SavedCaption.data(), static_cast<qsizetype>(SavedCaption.size())));
  }
}

void ProgressDialog::SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) {
  const std::int64_t total = std::max<std::int64_t>(totalBytes, 1);
  const std::int64_t done = std::clamp<std::int64_t>(doneBytes, 0, total);
  progressBar->setValue(static_cast<int>(done * 1000 / total));
  const std::int64_t seconds = std::max<std::int64_t>(secondsLeft, 0);
  if (finishing_.empty()) {
    timeLeftLabel->setText(QStringLiteral("%1 of %2 bytes, about %3:%4 left")
                           .arg(done)
                           .arg(totalBytes)
                           .arg(seconds / 60)
                           .arg(seconds % 60, 2, 10, QLatin1Char('0')));
  } else {
    timeLeftLabel->setText(QStringLiteral("%1 of %2 bytes; finishing %3, then stopping")
                           .arg(done)
                           .arg(totalBytes)
                           .arg(QString::fromStdString(finishing_)));
  }
  progressBar->show();
  timeLeftLabel->show();
}

void ProgressDialog::SetFinishing(const std::string& part) {
  finishing_ = part;
  timeLeftLabel->setText(QStringLiteral("Finishing %1, then stopping").arg(QString::fromStdString(part)));
  timeLeftLabel->show();
}

void ProgressDialog::ClearProgress() {
  progressBar->hide();
  timeLeftLabel->hide();
  progressBar->setValue(0);
  timeLeftLabel->clear();
  finishing_.clear();
  // A question about an operation that has ended would answer for the next one.
  question_.reset();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  // The window stays: its user hides it once the operation has stopped.
  event->ignore();
  if (question_) return;
  const std::string text = finishing_.empty() ? std::string(kAbortQuestion)
                                              : kStopAtOnceQuestion[0] + finishing_ + kStopAtOnceQuestion[1];
  question_ = dialogs_.Ask(
      text, roles::Buttons::YesNoCancel, kQuestionTitle, roles::Icon::Question,
      [this](roles::Answer answer) {
        question_.reset();
        if (answer == roles::Answer::Yes) flags_.AbortRequested = true;
      },
      this);
}

QtProgressWindow::~QtProgressWindow() { delete window_.data(); }

ProgressDialog& QtProgressWindow::Use() {
  if (!window_) window_ = new ProgressDialog(dialogs_, flags_, owner_);
  return *window_;
}

void QtProgressWindow::SetCaption(const std::string& caption) {
  Use().captionLabel->setText(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
}

void QtProgressWindow::Show() {
  ProgressDialog& w = Use();
  // Shown again while it is up, it stays where the user moved it.
  if (w.isVisible()) return;
  if (owner_ != nullptr && owner_->isVisible()) {
    // A window not shown yet has no frame of its own, so it is taken to get the
    // owner's. Where it would not fit clear of the controls, it stands over the
    // owner's middle.
    const QSize frame = w.size() + owner_->frameGeometry().size() - owner_->size();
    const QRect clear = clearOfControls_ ? clearOfControls_() : QRect();
    QRect place(QPoint(0, 0), frame);
    if (clear.width() >= frame.width() && clear.height() >= frame.height()) {
      place.moveTopRight(clear.topRight());
    } else {
      place.moveCenter(owner_->frameGeometry().center());
    }
    w.move(place.topLeft());
  }
  w.show();
  w.raise();
}

void QtProgressWindow::Hide() {
  if (!window_) return;
  window_->hide();
  window_->ClearProgress();
}

void QtProgressWindow::SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) {
  if (window_) window_->SetProgress(doneBytes, totalBytes, secondsLeft);
}

void QtProgressWindow::SetFinishing(const std::string& part) { Use().SetFinishing(part); }

}  // namespace ui
