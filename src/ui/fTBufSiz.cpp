#include "ui/fTBufSiz.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/Twips.h"

namespace ui {

fTBufSiz::fTBufSiz(settings::Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
  setObjectName(QStringLiteral("fTBufSiz"));
  setWindowTitle(QString::fromLatin1(kTBufSizCaption));
  const double scale = ScreenScale(this);
  setFixedWidth(TwipsToPixels(7200, scale));

  auto* layout = new QVBoxLayout(this);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      auto* line = new QFrame(this);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      layout->addWidget(line);
    }
    Labels[i] = new QLabel(QString::fromLatin1(kTBufSizLabels[i]), this);
    Labels[i]->setWordWrap(true);
    layout->addWidget(Labels[i]);
  }
  auto* bottomLine = new QFrame(this);
  bottomLine->setFrameShape(QFrame::HLine);
  bottomLine->setFrameShadow(QFrame::Sunken);
  layout->addWidget(bottomLine);

  auto* row = new QHBoxLayout;
  BoxLabel = new QLabel(QString::fromLatin1(kTBufSizBoxLabel), this);
  QFont bold = BoxLabel->font();
  bold.setBold(true);
  BoxLabel->setFont(bold);
  tBufSiz = new QLineEdit(this);
  tBufSiz->setFixedWidth(TwipsToPixels(1500, scale));
  row->addStretch(1);
  row->addWidget(BoxLabel);
  row->addWidget(tBufSiz);
  layout->addLayout(row);

  // Every change saves, the program's own assignments included: that is how opening
  // the window writes the file with the current size.
  tBufSizText.SetOnChange([this] {
    ShowModel();
    settings_.SaveSettings(tBufSizText);
  });
  connect(tBufSiz, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (applying_) return;
    const QByteArray utf8 = text.toUtf8();
    applying_ = true;
    tBufSizText.SetText(std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    applying_ = false;
    ShowModel();  // the save may have put 139 back
  });
}

void fTBufSiz::ShowModel() {
  const QString shown = QString::fromUtf8(tBufSizText.Text().data(), static_cast<qsizetype>(tBufSizText.Text().size()));
  if (tBufSiz->text() == shown) return;
  const bool was = applying_;
  applying_ = true;
  tBufSiz->setText(shown);
  applying_ = was;
}

void fTBufSiz::Load() {
  show();
  raise();
  activateWindow();
  if (!settings_.SettingsLoaded) settings_.LoadSettings();
  ShowSize();
}

void fTBufSiz::ShowSize() {
  // Only a different text is a change: showing a size of 0 in the empty box, or the
  // same size again on activation, writes nothing.
  const std::string text = settings_.BoxText();
  if (text != tBufSizText.Text()) tBufSizText.SetText(text);
}

bool fTBufSiz::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) ShowSize();
  return QWidget::event(event);
}

void fTBufSiz::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace ui
