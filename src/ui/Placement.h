// Where a window opens: centred over another one, as users expect of a program's own
// windows, and never with its title bar off the screen.
#pragma once

class QWidget;

namespace ui {

// Centres the window over `over` (on the screen when null), keeping it on that screen.
// A window never shown takes the size its layout asks for first.
void CentreOver(QWidget& window, const QWidget* over);

}  // namespace ui
