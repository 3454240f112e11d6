// The pacing countdown on tick times given by hand: it follows the clock, not the
// number of ticks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "transmit/PacingCountdown.h"

namespace {

struct Ticks {
  std::string name;
  std::uint32_t firstMs;
  std::vector<std::uint32_t> gapsMs;  // from each tick to the next; the last gap repeats
  int runsOutAtTick;                  // 1-based
};

class RunOut : public testing::TestWithParam<Ticks> {};

TEST_P(RunOut, AtTheFirstTick199MsOrMoreAfterItsFirstAndIdleAtTheNext) {
  const Ticks& t = GetParam();
  transmit::PacingCountdown c;
  c.PaceCount = 200;
  std::uint32_t now = t.firstMs;
  for (int tick = 1; tick <= t.runsOutAtTick + 1; ++tick) {
    EXPECT_FALSE(c.Idle()) << "tick " << tick;
    c.Tick(now);
    EXPECT_EQ(c.PaceCount <= 0, tick >= t.runsOutAtTick) << "tick " << tick;
    const std::size_t g = std::min<std::size_t>(static_cast<std::size_t>(tick) - 1, t.gapsMs.size() - 1);
    now += t.gapsMs[g];
  }
  EXPECT_TRUE(c.Idle());
}

INSTANTIATE_TEST_SUITE_P(
    Countdown, RunOut,
    testing::Values(
        // 199 left after the first tick, then 10 a tick: 9 left after the 20th, out at the 21st.
        Ticks{"TenMsTicks", 1000, {10}, 21},
        // 1 a tick after the first: out at the 200th, 199 ms after the first.
        Ticks{"OneMsTicks", 1000, {1}, 200},
        // A 16 ms system timer: 199 - 16 * 12 = 7 left after the 13th, out at the 14th.
        Ticks{"SixteenMsTicks", 1000, {16}, 14},
        // A late tick counts what really passed: 199 - 150 = 49, then 210 more ends it.
        Ticks{"ALateTick", 1000, {150, 210}, 3},
        // The clock wraps round between the 7th and 8th tick (0xFFFFFFC0 + 70 passes 2^32).
        Ticks{"AcrossTheClockWrap", 0xFFFFFFC0u, {10}, 21}),
    [](const testing::TestParamInfo<Ticks>& p) { return p.param.name; });

}  // namespace
