#include "support/driver_on_sim.h"

#include <kxphone/kxphone.h>

#include "driver/app.h"

namespace kxtest {

void DriverOnSim::Start(const SimOptions& options, const char16_t* serial, bool window) {
    sim_.reset(new SimFixture(options));
    ASSERT_TRUE(sim_->ok()) << sim_->error();
    theApp.SetEnv(&env_);
    theApp.SetTiming(TestTiming(2));
    theApp.m_FakePhone.m_ContactGroups.Clear();
    url_ = sim_->BaseUrl16();
    adb_.SetState("device");
    if (!serial)
        return;
    InitSyncParams params{0, window ? host_.window() : nullptr, sim_->port(), url_.c_str(), serial};
    ASSERT_EQ(KX_OK, ::InitSync(0, &params));
}

void ResetDriver() {
    CKXFakePhone& phone = theApp.m_FakePhone;
    phone.StopFlag = false;
    theApp.CancelFlag = false;
    phone.ProductId = -1;
    phone.PlatformClass = 5;
    phone.SdkVersion = -1;
    phone.RecordCallback = nullptr;
    phone.ProgressCallback = nullptr;
    InitSyncParams none{0, nullptr, 115200, u"", u""};
    phone.InitSync(0, &none);
    theApp.SetTiming(platform::Timing());
    theApp.SetEnv(nullptr);
    phone.m_ContactGroups.Clear();
}

void DriverOnSim::TearDown() {
    ResetDriver();
    sim_.reset();
}

} // namespace kxtest
