#include "platform/timing.h"

namespace platform {

namespace {
uint32_t Scale(uint32_t ms, uint32_t msPerSecond) {
    uint64_t scaled = static_cast<uint64_t>(ms) * msPerSecond / 1000;
    return scaled == 0 ? 1 : static_cast<uint32_t>(scaled);
}
} // namespace

Timing Timing::Scaled(uint32_t msPerSecond) {
    Timing t;
    t.retryBackoffMs = Scale(t.retryBackoffMs, msPerSecond);
    t.resetWaitMs = Scale(t.resetWaitMs, msPerSecond);
    t.resetPollMs = Scale(t.resetPollMs, msPerSecond);
    t.selectStepMs = Scale(t.selectStepMs, msPerSecond);
    t.bridgeCheckFirstWaitMs = Scale(t.bridgeCheckFirstWaitMs, msPerSecond);
    t.bridgeCheckPollMs = Scale(t.bridgeCheckPollMs, msPerSecond);
    t.adbCommandTimeoutMs = Scale(t.adbCommandTimeoutMs, msPerSecond);
    t.phoneReadyTimeoutMs = Scale(t.phoneReadyTimeoutMs, msPerSecond);
    return t;
}

} // namespace platform
