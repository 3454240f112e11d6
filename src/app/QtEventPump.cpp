#include "app/QtEventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <chrono>

namespace app {

void QtEventPump::PumpEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now < due_) return;
  // Set before processing: the handlers run below pump too, and are held to the same
  // interval from here on.
  due_ = now + interval_;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::WaitForEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  due_ = std::chrono::steady_clock::now() + interval_;
}

QtIdleWait::QtIdleWait(midi::Waker& arrived, roles::EventPump& pump)
    : arrived_(arrived), pump_(pump), dispatcher_(QAbstractEventDispatcher::instance(QThread::currentThread())) {
  bridge_ = std::thread([this] { Bridge(); });
}

QtIdleWait::~QtIdleWait() {
  stop_.store(true);
  arrived_.Notify();
  bridge_.join();
}

void QtIdleWait::WaitForInput() { pump_.WaitForEvents(); }

void QtIdleWait::Bridge() {
  while (!stop_.load()) {
    // The timeout only bounds how long a stop takes to be seen.
    const bool arrived = arrived_.WaitFor(std::chrono::milliseconds(1000));
    if (stop_.load()) break;
    if (arrived && dispatcher_ != nullptr) dispatcher_->wakeUp();
  }
}

}  // namespace app
