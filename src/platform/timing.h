// Every wait and time-out of the transport, in one value. The defaults are the protocol's
// constants; tests install Scaled() so a six-try retry run takes milliseconds. Time-outs given
// in seconds are counted in select steps: one step stands for one protocol second.
#pragma once

#include <cstdint>

namespace platform {

struct Timing {
    uint32_t retryBackoffMs = 30000;        // before the 3rd and the 5th attempt
    uint32_t resetWaitMs = 5000;            // after killing the bridge, and after the forward
    uint32_t resetPollMs = 1000;            // while another thread resets the bridge
    uint32_t selectStepMs = 1000;           // one receive wait step (one protocol second)
    uint32_t bridgeCheckAfterSteps = 30;    // silent steps before the bridge health check
    uint32_t bridgeCheckFirstWaitMs = 1000; // before polling another thread's bridge check
    uint32_t bridgeCheckPollMs = 100;
    uint32_t adbCommandTimeoutMs = 10000;
    uint32_t phoneReadyTimeoutMs = 10000;

    // The same protocol with every duration multiplied by msPerSecond / 1000 (at least 1 ms).
    static Timing Scaled(uint32_t msPerSecond);
};

} // namespace platform
