#include "ui/QtDialogs.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

namespace ui {
namespace {

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// "*.syx" gives "*.[sS][yY][xX]", which Qt's glob matching and the desktops' own
// dialogs read alike.
QString AnyCase(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    if (c.isLetter()) {
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

QString QtFilter(std::string_view filter) {
  const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
  QStringList lines;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QStringList anyCase;
    for (const QString& p : patterns) anyCase << AnyCase(p.trimmed());
    // The dialogs show what stands before the last parentheses (HideNameFilterDetails)
    // and match what stands in them.
    lines << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(") (") +
                 anyCase.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return lines.join(QStringLiteral(";;"));
}

namespace {

void Configure(QMessageBox& box, std::string_view text, roles::Buttons buttons, std::string_view title,
               roles::Icon icon) {
  box.setWindowTitle(title.empty() ? QString::fromUtf8(kApplicationTitle) : FromUtf8(title));
  box.setText(FromUtf8(text));
  switch (icon) {
    case roles::Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case roles::Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case roles::Icon::Question: box.setIcon(QMessageBox::Question); break;
    case roles::Icon::Information: box.setIcon(QMessageBox::Information); break;
    case roles::Icon::Critical: box.setIcon(QMessageBox::Critical); break;
  }
  if (buttons == roles::Buttons::YesNoCancel) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
  } else if (buttons == roles::Buttons::YesNo) {
    // Closing the box answers No: only Yes goes ahead.
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
}

roles::Answer AnswerOf(int button, roles::Buttons buttons) {
  switch (button) {
    case QMessageBox::Yes: return roles::Answer::Yes;
    case QMessageBox::No: return roles::Answer::No;
    case QMessageBox::Ok: return roles::Answer::Ok;
    default:
      if (buttons == roles::Buttons::Ok) return roles::Answer::Ok;
      return buttons == roles::Buttons::YesNo ? roles::Answer::No : roles::Answer::Cancel;
  }
}

// Withdrawn, the box goes without calling back.
class QtQuestion final : public roles::OpenQuestion {
 public:
  QtQuestion(QMessageBox* box, QMetaObject::Connection answered) : box_(box), answered_(std::move(answered)) {}
  ~QtQuestion() override {
    QObject::disconnect(answered_);
    if (box_ == nullptr) return;
    box_->hide();
    box_->deleteLater();
  }
  QtQuestion(const QtQuestion&) = delete;
  QtQuestion& operator=(const QtQuestion&) = delete;

 private:
  QPointer<QMessageBox> box_;
  QMetaObject::Connection answered_;
};

}  // namespace

roles::Answer QtDialogs::MessageBox(std::string_view text, roles::Buttons buttons, std::string_view title,
                                    roles::Icon icon) {
  QMessageBox box(parent_);
  Configure(box, text, buttons, title, icon);
  return AnswerOf(box.exec(), buttons);
}

std::unique_ptr<roles::OpenQuestion> QtDialogs::Ask(std::string_view text, roles::Buttons buttons,
                                                    std::string_view title, roles::Icon icon,
                                                    std::function<void(roles::Answer)> onAnswer, void* owner) {
  auto* box = new QMessageBox(owner != nullptr ? static_cast<QWidget*>(owner) : parent_);
  Configure(*box, text, buttons, title, icon);
  box->setWindowModality(Qt::WindowModal);
  // Answered, the box goes once the call back has returned; onAnswer may withdraw it.
  QMetaObject::Connection answered = QObject::connect(
      box, &QMessageBox::finished, box, [box, buttons, onAnswer = std::move(onAnswer)] {
        QAbstractButton* clicked = box->clickedButton();
        const int button = clicked != nullptr ? box->standardButton(clicked) : 0;
        box->deleteLater();
        onAnswer(AnswerOf(button, buttons));
      });
  box->open();
  return std::make_unique<QtQuestion>(box, std::move(answered));
}

std::optional<std::string> QtDialogs::SaveFileDialog(std::string_view title, std::string_view filter) {
  return FileDialog(true, title, filter);
}

std::optional<std::string> QtDialogs::OpenFileDialog(std::string_view title, std::string_view filter) {
  return FileDialog(false, title, filter);
}

std::optional<std::string> QtDialogs::FileDialog(bool save, std::string_view title, std::string_view filter) {
  const QString caption = FromUtf8(title);
  const QString filters = QtFilter(filter);
  // The save form asks before a chosen file is replaced: the handlers replace it
  // without a word of their own, and a backup overwritten by a slip is lost.
  const QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
  const QString chosen = save ? QFileDialog::getSaveFileName(parent_, caption, lastName_, filters, nullptr, options)
                              : QFileDialog::getOpenFileName(parent_, caption, lastName_, filters, nullptr, options);
  if (chosen.isEmpty()) return std::nullopt;
  lastName_ = chosen;
  const QByteArray bytes = chosen.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace ui
