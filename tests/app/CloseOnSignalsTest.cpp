// The window program ends on SIGTERM, SIGINT or SIGHUP by closing its main window, so
// that it shuts down as when the user closes it; a signal that was ignored stays so.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QWidget>
#include <chrono>
#include <csignal>

#include <signal.h>

#include "app/CloseOnSignals.h"

namespace {

class CountingWindow final : public QWidget {
 public:
  int closes = 0;

 protected:
  void closeEvent(QCloseEvent*) override { ++closes; }
};

// Raises sig and runs the window's events until it has been closed, or five seconds
// have passed (a generous bound: the close comes on the next pass).
void RaiseAndPump(int sig, const CountingWindow& window) {
  ASSERT_EQ(raise(sig), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (window.closes == 0 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

volatile std::sig_atomic_t formerHandlerRuns = 0;
extern "C" void FormerHandler(int) { formerHandlerRuns = formerHandlerRuns + 1; }

class CloseOnSignals : public testing::TestWithParam<int> {};

// The signal is handled by FormerHandler before and after, and by the window's close
// while CloseOnSignals lives; SIGINT, ignored beforehand, stays ignored throughout.
TEST_P(CloseOnSignals, TheSignalClosesTheWindowAndTheFormerHandlingComesBack) {
  const int sig = GetParam();
  const auto saved = std::signal(sig, &FormerHandler);
  const auto savedInt = sig == SIGINT ? SIG_DFL : std::signal(SIGINT, SIG_IGN);
  formerHandlerRuns = 0;
  CountingWindow window;
  window.show();
  {
    app::CloseOnSignals closeOnSignals(window);
    RaiseAndPump(sig, window);
    EXPECT_EQ(window.closes, 1);
    EXPECT_EQ(formerHandlerRuns, 0);
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    if (sig != SIGINT) {
      EXPECT_EQ(now.sa_handler, SIG_IGN) << "an ignored signal is not taken over";
    }
  }
  ASSERT_EQ(raise(sig), 0);
  EXPECT_EQ(formerHandlerRuns, 1);
  std::signal(sig, saved);
  if (sig != SIGINT) std::signal(SIGINT, savedInt);
}

INSTANTIATE_TEST_SUITE_P(Signals, CloseOnSignals, testing::Values(SIGTERM, SIGINT, SIGHUP));

}  // namespace
