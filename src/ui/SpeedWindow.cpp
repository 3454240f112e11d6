#include "ui/SpeedWindow.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/Twips.h"

namespace ui {

SpeedWindow::SpeedWindow(settings::Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings) {
  setObjectName(QStringLiteral("SpeedWindow"));
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

  sizeBox = AddBoxRow(*layout, kTBufSizBoxLabel, BoxLabel, sizeText);
  pauseBox = AddBoxRow(*layout, kPauseBoxLabel, PauseBoxLabel, pauseText);

  // Every change saves, the program's own assignments included: that is how opening
  // the window writes the file with the current size.
  sizeText.SetOnChange([this] {
    ShowModel(*sizeBox, sizeText);
    settings_.SaveSettings(sizeText);
  });
  // The pause is saved when the user changes it (or a bad one is put back), so that
  // opening the window writes no more than it always did.
  pauseText.SetOnChange([this] {
    ShowModel(*pauseBox, pauseText);
    if (!showingPause_) settings_.SavePause(pauseText);
    Labels[0]->setText(QString::fromLatin1(PauseLabel(settings_.PauseMs).c_str()));
  });
}

std::string PauseLabel(std::int32_t pauseMs) {
  std::string text = kTBufSizLabels[0];
  if (pauseMs == settings::kDefaultPauseMs) return text;
  const std::string said = "at least 200 milliseconds";
  return text.replace(text.find(said), said.size(), "at least " + std::to_string(pauseMs) + " milliseconds");
}

QLineEdit* SpeedWindow::AddBoxRow(QVBoxLayout& layout, const char* label, QLabel*& labelWidget, roles::TextBox& model) {
  auto* row = new QHBoxLayout;
  labelWidget = new QLabel(QString::fromLatin1(label), this);
  QFont bold = labelWidget->font();
  bold.setBold(true);
  labelWidget->setFont(bold);
  auto* box = new QLineEdit(this);
  box->setFixedWidth(TwipsToPixels(1500, ScreenScale(this)));
  row->addStretch(1);
  row->addWidget(labelWidget);
  row->addWidget(box);
  layout.addLayout(row);
  connect(box, &QLineEdit::textEdited, this, [this, box, &model](const QString& text) {
    if (applying_) return;
    const QByteArray utf8 = text.toUtf8();
    applying_ = true;
    model.SetText(std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    applying_ = false;
    ShowModel(*box, model);  // the save may have put the default back
  });
  return box;
}

void SpeedWindow::ShowModel(QLineEdit& box, const roles::TextBox& model) {
  const QString shown = QString::fromUtf8(model.Text().data(), static_cast<qsizetype>(model.Text().size()));
  if (box.text() == shown) return;
  const bool was = applying_;
  applying_ = true;
  box.setText(shown);
  applying_ = was;
}

void SpeedWindow::Load() {
  show();
  raise();
  activateWindow();
  if (!settings_.SettingsLoaded) settings_.LoadSettings();
  ShowSize();
  ShowPause();
}

void SpeedWindow::ShowSize() {
  // Only a different text is a change: showing a size of 0 in the empty box, or the
  // same size again on activation, writes nothing.
  const std::string text = settings_.BoxText();
  if (text != sizeText.Text()) sizeText.SetText(text);
}

void SpeedWindow::ShowPause() {
  const std::string text = settings_.PauseBoxText();
  if (text == pauseText.Text()) return;
  showingPause_ = true;
  pauseText.SetText(text);
  showingPause_ = false;
}

bool SpeedWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    ShowSize();
    ShowPause();
  }
  return QWidget::event(event);
}

void SpeedWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace ui
