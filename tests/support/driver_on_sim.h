// The driver against an in-process kxphone-sim, as the end-to-end suites drive it: a temporary
// application-data folder as the Env, scaled timing, a fake bridge that answers "device" and a
// recording host window. TearDown puts every setting of the driver back as a fresh load has it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace kxtest {

// Every setting of the driver back as a fresh load has it: no session, no callbacks, no flags
// raised, the real system as its Env and the protocol's own timing.
void ResetDriver();

class DriverOnSim : public ::testing::Test {
protected:
    // A fresh simulator and, with serial, InitSync to it (the host window given when window).
    void Start(const SimOptions& options = SimOptions(), const char16_t* serial = u"SER-E2E",
               bool window = true);
    void TearDown() override;

    TempAppDataEnv env_{false};
    FakeAdb adb_;
    HostWindowRecorder host_;
    std::unique_ptr<SimFixture> sim_;
    std::u16string url_;
};

} // namespace kxtest
