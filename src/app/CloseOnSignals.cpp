#include "app/CloseOnSignals.h"

#include <QSocketNotifier>

#include "platform/Platform.h"

namespace app {

struct CloseOnSignals::Impl {
  platform::CloseSignals closeSignals;
  std::unique_ptr<QSocketNotifier> notifier;
  std::function<void()> end;
};

CloseOnSignals::CloseOnSignals(std::function<void()> end) : impl_(std::make_unique<Impl>()) {
  impl_->end = std::move(end);
  if (impl_->closeSignals.ReadEnd() < 0) return;
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->closeSignals.ReadEnd(), QSocketNotifier::Read);
  Impl* impl = impl_.get();
  QObject::connect(impl->notifier.get(), &QSocketNotifier::activated, [impl] {
    impl->closeSignals.Drain();
    if (impl->end) impl->end();
  });
}

// The notifier goes before the pipe it watches.
CloseOnSignals::~CloseOnSignals() { impl_->notifier.reset(); }

}  // namespace app
