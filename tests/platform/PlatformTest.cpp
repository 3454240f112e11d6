// What the command line's hostile cases cannot reach from outside: the new file of a
// safe write goes with the process when a signal ends it.
#include <gtest/gtest.h>

#include <csignal>

#include "platform/Platform.h"
#include "support/RunCli.h"

namespace {

TEST(SafeFile, ASignalThatEndsTheProcessTakesItsNewFileAlong) {
  const auto dir = FreshDir("safe-file-signal");
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ, SIGUSR1, SIGALRM}) {
    EXPECT_EXIT(
        {
          platform::SafeFile file;
          if (!file.Open(dir / "OUT.SYX") && !std::filesystem::is_empty(dir)) std::raise(signal);
          std::exit(0);  // no new file to remove: the test fails on the exit
        },
        testing::KilledBySignal(signal), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << signal;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
