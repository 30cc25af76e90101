// The driver's own service frame against the simulator: the bytes the driver really sends are
// accepted, and each exchange is confirmed under its session id. (Group and calendar requests
// run through the same frame in the contact and calendar read suites.)
#include <gtest/gtest.h>

#include "driver/app.h"
#include "support/sim_fixture.h"
#include "transport/service_request.h"

namespace {

class DriverFrame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.ok()) << sim.error();
        saved = theApp.m_FakePhone.BaseUrl();
        theApp.m_FakePhone.SetBaseUrl(sim.BaseUrl16());
        theApp.RenewTaskStamp();
    }
    void TearDown() override { theApp.m_FakePhone.SetBaseUrl(saved); }

    static kxtest::SimOptions Options() {
        kxtest::SimOptions o;
        o.contacts = 60;
        return o;
    }
    kxtest::SimFixture sim{Options()};
    std::u16string saved;
};

TEST_F(DriverFrame, ReadsAndWritesRoundTrip) {
    ServiceReply ids = ServiceCall(service::kContactChangeLog, nullptr);
    ASSERT_TRUE(ids.ok()) << ids.outcome;
    ASSERT_EQ(ids.objects().size(), 60u);

    Json::Value batch(Json::objectValue);
    for (Json::ArrayIndex i = 0; i < 50; ++i)
        batch["objects"].append(ids.objects()[i]);
    ServiceReply read = ServiceCall(service::kContactRead, batch);
    ASSERT_TRUE(read.ok()) << read.outcome;
    EXPECT_EQ(read.objects().size(), 50u);
    EXPECT_EQ(read.objects()[0]["__data"][0]["data1"].asString(), "José García");

    Json::Value contact(Json::objectValue);
    contact["account_name"] = "pcsc";
    contact["account_type"] = "com.vexo.android.pcsc";
    contact["sourceid"] = "5";
    contact["__data"][0]["mimetype"] = "vnd.android.cursor.item/note";
    contact["__data"][0]["data1"] = "written by the driver";
    Json::Value create(Json::objectValue);
    create["objects"].append(contact);
    ServiceReply created = ServiceCall(service::Write(ServiceKind::Contact, ServiceWrite::Create), create);
    ASSERT_TRUE(created.ok()) << created.outcome;
    EXPECT_EQ(created.objects()[0]["__id"].asString(), "61");

    // Every main request was confirmed by a "/session_ctrl" with its own session id.
    std::vector<kxsim::JournalEntry> all = sim.Requests();
    ASSERT_EQ(all.size(), 6u);
    for (size_t i = 0; i < all.size(); i += 2) {
        EXPECT_NE(all[i].path, "/session_ctrl");
        EXPECT_EQ(all[i + 1].path, "/session_ctrl");
        EXPECT_EQ(all[i + 1].method, "POST");
        EXPECT_EQ(all[i].session, all[i + 1].session);
        EXPECT_TRUE(all[i].error.empty()) << all[i].path << ": " << all[i].error;
    }
    EXPECT_EQ(all[2].body, WriteCompactJson(batch));
    EXPECT_TRUE(sim.journal().UnconfirmedSessions().empty());
}

} // namespace
