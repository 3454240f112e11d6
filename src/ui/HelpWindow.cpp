#include "ui/HelpWindow.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <cstdio>
#include <system_error>

#include "platform/Files.h"
#include "ui/TextBoxView.h"
#include "ui/Twips.h"

namespace ui {

std::string HelpText(const std::filesystem::path& programDirectory) {
  const std::filesystem::path path = programDirectory / kHelpFileName;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return kNoHelpFile;
  std::FILE* f = platform::OpenFile(path, "rb");
  if (f == nullptr) return kHelpReadError;
  std::string raw;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) raw.append(chunk, n);
  // A directory of that name opens on some systems and only fails here.
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return kHelpReadError;

  // A line ends at LF, CR LF or a lone CR; each is shown with CR LF.
  std::string text;
  text.reserve(raw.size() + raw.size() / 16);
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t end = raw.find_first_of("\r\n", i);
    if (end == std::string::npos) end = raw.size();
    text.append(raw, i, end - i);
    text += "\r\n";
    if (end < raw.size() && raw[end] == '\r' && end + 1 < raw.size() && raw[end + 1] == '\n') ++end;
    i = end + 1;
  }
  return text;
}

HelpWindow::HelpWindow(const std::filesystem::path& programDirectory, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Help Information"));
  const double scale = ScreenScale(this);
  resize(TwipsToPixels(9600, scale), TwipsToPixels(6600, scale));
  helpBox = new TextBoxView(helpText, TextBoxView::Editing::None, true, true, this);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(8);
  helpBox->setFont(fixed);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(helpBox);
  helpText.SetText(HelpText(programDirectory));
}

// The view lets go of the box's text before the text goes.
HelpWindow::~HelpWindow() { delete helpBox; }

void HelpWindow::closeEvent(QCloseEvent* event) {
  closed_ = true;
  event->accept();
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace ui
