#include "platform/timing.h"

#include <gtest/gtest.h>

namespace {

// The protocol's waits and time-outs; pinned here so they cannot drift.
TEST(Timing, DefaultsAreTheProtocolConstants) {
    platform::Timing t;
    EXPECT_EQ(t.retryBackoffMs, 30000u);
    EXPECT_EQ(t.resetWaitMs, 5000u);
    EXPECT_EQ(t.resetPollMs, 1000u);
    EXPECT_EQ(t.selectStepMs, 1000u);
    EXPECT_EQ(t.bridgeCheckAfterSteps, 30u);
    EXPECT_EQ(t.bridgeCheckFirstWaitMs, 1000u);
    EXPECT_EQ(t.bridgeCheckPollMs, 100u);
    EXPECT_EQ(t.adbCommandTimeoutMs, 10000u);
    EXPECT_EQ(t.phoneReadyTimeoutMs, 10000u);
}

TEST(Timing, ScaledKeepsRatiosAndNeverReachesZero) {
    platform::Timing t = platform::Timing::Scaled(5);
    EXPECT_EQ(t.retryBackoffMs, 150u);
    EXPECT_EQ(t.resetWaitMs, 25u);
    EXPECT_EQ(t.selectStepMs, 5u);
    EXPECT_EQ(t.bridgeCheckPollMs, 1u); // 0.5 ms rounds up to the smallest wait
    EXPECT_EQ(t.bridgeCheckAfterSteps, 30u);
}

} // namespace
