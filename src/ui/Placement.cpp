#include "ui/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace ui {

void CentreOver(QWidget& window, const QWidget* over) {
  if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();
  const QScreen* screen = over != nullptr && over->screen() != nullptr ? over->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
  QRect r(QPoint(), window.size());
  r.moveCenter(over != nullptr ? over->geometry().center() : area.center());
  if (area.isValid()) {
    // The top left corner last, so that a window larger than the screen shows its title bar.
    r.moveRight(std::min(r.right(), area.right()));
    r.moveBottom(std::min(r.bottom(), area.bottom()));
    r.moveLeft(std::max(r.left(), area.left()));
    r.moveTop(std::max(r.top(), area.top()));
  }
  // The inner rectangle, not the frame's: before the window is first shown its frame
  // is not known, and both windows' frames alike leave their centres where they are.
  window.setGeometry(r);
}

}  // namespace ui
