// Input as the user gives it, through the widget's own event handling, so that a
// disabled control ignores it as it would a real click or key.
#pragma once

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QString>
#include <QWidget>

inline void ClickOn(QWidget& w) {
  const QPointF at(w.width() / 2.0, w.height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &press);
  QCoreApplication::sendEvent(&w, &release);
}

inline void PressKey(QWidget& w, Qt::Key key, const QString& text = {}) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(&w, &event);
}
