#include "app/CloseOnSignals.h"

#include <QSocketNotifier>
#include <QWidget>

#include "platform/Platform.h"

namespace app {

struct CloseOnSignals::Impl {
  platform::CloseSignals closeSignals;
  std::unique_ptr<QSocketNotifier> notifier;
};

CloseOnSignals::CloseOnSignals(QWidget& window) : impl_(std::make_unique<Impl>()) {
  if (impl_->closeSignals.ReadEnd() < 0) return;
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->closeSignals.ReadEnd(), QSocketNotifier::Read);
  Impl* impl = impl_.get();
  QObject::connect(impl->notifier.get(), &QSocketNotifier::activated, [impl, &window] {
    impl->closeSignals.Drain();
    window.close();
  });
}

// The notifier goes before the pipe it watches.
CloseOnSignals::~CloseOnSignals() { impl_->notifier.reset(); }

}  // namespace app
