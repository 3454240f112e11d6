#include "ui/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ui {

double ScreenScale(const QWidget* widget) {
  const QScreen* screen = widget != nullptr && widget->screen() != nullptr ? widget->screen()
                                                                             : QGuiApplication::primaryScreen();
  const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
  return dpi > 96.0 ? dpi / 96.0 : 1.0;
}

}  // namespace ui
