// Window geometry in twips (1/1440 inch), the unit the windows were laid out in:
// 15 twips to a pixel at 96 dots per inch, scaled up on screens set to more.
#pragma once

#include <QRect>
#include <QtGlobal>

class QWidget;

namespace ui {

inline constexpr int kTwipsPerPixel = 15;

// 1.0 at 96 dots per inch or less; the screen's logical DPI over 96 above it.
double ScreenScale(const QWidget* widget);

inline int TwipsToPixels(int twips, double scale) { return qRound(twips * scale / kTwipsPerPixel); }

inline QRect TwipRect(int left, int top, int width, int height, double scale) {
  return {TwipsToPixels(left, scale), TwipsToPixels(top, scale), TwipsToPixels(width, scale),
          TwipsToPixels(height, scale)};
}

}  // namespace ui
