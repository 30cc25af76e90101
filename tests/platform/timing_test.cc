#include "platform/timing.h"

#include <gtest/gtest.h>

namespace {

TEST(Timing, ScaledKeepsRatiosAndNeverReachesZero) {
    platform::Timing t = platform::Timing::Scaled(5);
    EXPECT_EQ(t.retryBackoffMs, 150u);
    EXPECT_EQ(t.resetWaitMs, 25u);
    EXPECT_EQ(t.selectStepMs, 5u);
    EXPECT_EQ(t.bridgeCheckPollMs, 1u); // 0.5 ms rounds up to the smallest wait
    EXPECT_EQ(t.bridgeCheckAfterSteps, 30u);
}

} // namespace
