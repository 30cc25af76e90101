// The phone status document against kxphone-sim: the handset's clock when it answers, status 2
// and the readiness check when no time comes back.
#include <gtest/gtest.h>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/trace_capture.h"

namespace {

// The zone conversion is "unavailable" with a standard bias of UTC+8: local = UTC + 8 h.
class ZoneEnv : public platform::EnvWrapper {
public:
    ZoneEnv() : platform::EnvWrapper(platform::Env::Default()) {}
    bool UtcToLocal(const platform::CivilTime&, platform::CivilTime*) override { return false; }
    int ZoneBiasMinutes() override { return -480; }
};

std::u16string StatusDocument(const char16_t* status, const char16_t* time) {
    return std::u16string(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<phonestatus>\r\n"
                          u"<version>1.00</version>\r\n<status>") +
           status + u"</status>\r\n<time>" + time + u"</time>\r\n</phonestatus >";
}

class PhoneStatus : public kxtest::DriverOnSim {
protected:
    void SetUp() override {
        Start({.clockMs = 1326758400000}, u"SIMSERIAL"); // 2012-01-17 00:00:00 UTC
        theApp.SetEnv(&zone_);
    }
    size_t ReadinessChecks() const {
        size_t n = 0;
        for (const std::string& call : adb_.Calls())
            n += call == "<-s><SIMSERIAL><get-state>";
        return n;
    }

    kxtest::TraceCapture trace_;
    ZoneEnv zone_;
};

// Through the export, as a host asks.
TEST_F(PhoneStatus, HandsetTimeIntoTheHostBuffer) {
    std::vector<KXChar> buffer(1024, u'#');
    KXAnswerBlock block{1024, buffer.data()};
    EXPECT_EQ(InquireInfo(KX_INQUIRE_PHONE_STATUS, reinterpret_cast<uintptr_t>(&block)), KX_OK);
    EXPECT_EQ(block.buffer, buffer.data());
    EXPECT_EQ(std::u16string(buffer.data()), StatusDocument(u"0", u"2012-01-17 08:00:00"));
    EXPECT_EQ(sim_->Requests("/info/abc").size(), 1u);
    EXPECT_EQ(ReadinessChecks(), 0u);
    EXPECT_TRUE(host_.Messages().empty());

    auto enter =
        trace_.LinesWith({"[Caller=CKXFakePhone::Inquire],[Action=Enter],[Function=InquirePhoneStatus]"});
    auto leave =
        trace_.LinesWith({"[Caller=CKXFakePhone::Inquire],[Action=Leave],[Function=InquirePhoneStatus]"});
    EXPECT_EQ(enter.size(), 1u);
    EXPECT_EQ(leave.size(), 1u);
}

// A refused answer and no answer at all; a buffer too small gets the driver's own text.
TEST_F(PhoneStatus, NoTimeGivesStatus2AndChecksTheHandset) {
    size_t checks = 0;
    for (const char* fault : {"status:-1:/info/abc:1", "refuse:-1"}) {
        SCOPED_TRACE(fault);
        ASSERT_TRUE(sim_->AddFault(fault));
        std::vector<KXChar> buffer(2048, u'\0');
        KXAnswerBlock block{fault[0] == 's' ? 1023 : 2048, buffer.data()};
        EXPECT_EQ(theApp.m_FakePhone.Inquire(KX_INQUIRE_PHONE_STATUS, reinterpret_cast<uintptr_t>(&block)),
                  KX_OK);
        if (fault[0] == 's') {
            EXPECT_EQ(block.capacity, 1024);
            ASSERT_EQ(block.buffer, theApp.m_FakePhone.InformationText);
        }
        EXPECT_EQ(std::u16string(block.buffer), StatusDocument(u"2", u""));
        EXPECT_EQ(ReadinessChecks(), ++checks);
    }
}

TEST_F(PhoneStatus, NoAnswerBlockAsksNothingOfTheHandset) {
    EXPECT_EQ(theApp.m_FakePhone.Inquire(KX_INQUIRE_PHONE_STATUS, 0), KX_INVALID_ARGUMENT);
    EXPECT_TRUE(sim_->Requests("/info/abc").empty());
    EXPECT_EQ(ReadinessChecks(), 0u);
}

} // namespace
