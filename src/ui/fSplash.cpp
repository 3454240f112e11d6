#include "ui/fSplash.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Twips.h"

namespace ui {

fSplash::fSplash(Dialogs& dialogs, mc303::SharedFlags& flags, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs), flags_(flags) {
  setObjectName(QStringLiteral("fSplash"));
  setWindowTitle(QString::fromLatin1(kSplashCaption));
  const double scale = ScreenScale(this);
  setFixedSize(TwipsToPixels(4800, scale), TwipsToPixels(1500, scale));
  lSplash = new QLabel(QString::fromLatin1(kSplashFirstLabel), this);
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(26);
  font.setBold(true);
  lSplash->setFont(font);
  lSplash->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lSplash);

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

void fSplash::closeEvent(QCloseEvent* event) {
  if (dialogs_.MessageBox(kAbortQuestion, Buttons::YesNoCancel, kQuestionTitle, Icon::Question) != Answer::Yes) {
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
  w.show();
  w.raise();
}

void QtProgressWindow::Hide() {
  if (window_ && !window_->Closed()) window_->hide();
}

}  // namespace ui
