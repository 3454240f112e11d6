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
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    event->accept();
  }
};

// Runs the user-interface thread's events until the window has been closed, or five
// seconds have passed (a generous bound: the close comes on the next pass).
void PumpUntilClosed(const CountingWindow& window) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (window.closes == 0 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

volatile std::sig_atomic_t formerHandlerRuns = 0;
extern "C" void FormerHandler(int) { formerHandlerRuns = formerHandlerRuns + 1; }

class CloseOnSignalsTest : public ::testing::TestWithParam<int> {};

TEST_P(CloseOnSignalsTest, TheSignalClosesTheWindowAndTheFormerHandlerComesBack) {
  const int sig = GetParam();
  struct sigaction former {};
  former.sa_handler = &FormerHandler;
  sigemptyset(&former.sa_mask);
  struct sigaction saved {};
  sigaction(sig, &former, &saved);
  formerHandlerRuns = 0;
  CountingWindow window;
  window.show();
  {
    app::CloseOnSignals closeOnSignals(window);
    ASSERT_EQ(raise(sig), 0);
    PumpUntilClosed(window);
    EXPECT_EQ(window.closes, 1);
    EXPECT_EQ(formerHandlerRuns, 0);
  }
  ASSERT_EQ(raise(sig), 0);
  EXPECT_EQ(formerHandlerRuns, 1);
  sigaction(sig, &saved, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Signals, CloseOnSignalsTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(CloseOnSignals, AnIgnoredSignalStaysIgnored) {
  // As for a program a shell started in the background: Ctrl-C is not for it.
  struct sigaction saved {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &saved);
  CountingWindow window;
  window.show();
  {
    app::CloseOnSignals closeOnSignals(window);
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    // The others still close it.
    ASSERT_EQ(raise(SIGTERM), 0);
    PumpUntilClosed(window);
    EXPECT_EQ(window.closes, 1);
  }
  sigaction(SIGINT, &saved, nullptr);
}

}  // namespace
