// The reader against a scripted service: what the simulator never answers (entries that are not
// objects, each failure kind and its traced text). Batches, progress and messages, the merge
// against real rows and the stop run against the simulator in the e2e suite; the collecting mode
// in the backup there; the empty id list and the check of the handset after a failure in the
// contact read, which shares the batch reader; the callbacks go with the messages (checked with
// the reporter).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "calendar/calendar_read.h"
#include "calendar_test_env.h"
#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/host_window_recorder.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace {

using caltest::FixedZoneEnv;

// The requests of the read, as the script sees them.
enum class CalendarRequest { kSetTracking, kIdList, kRead };

struct Sent {
    CalendarRequest request;
    Json::Value body;
};

// The scripted service: the id list and, per read request, the rows for the ids asked for.
struct Script {
    std::vector<Sent> sent;
    ServiceReply idList;
    std::function<ServiceReply(const Json::Value& ids, size_t index)> read;
};
Script* g_script = nullptr;

ServiceReply Scripted(const ServiceRequest& service, const Json::Value* body) {
    const CalendarRequest request = &service == &service::kCalendarSetTracking ? CalendarRequest::kSetTracking
                                    : &service == &service::kCalendarChangeLog ? CalendarRequest::kIdList
                                                                               : CalendarRequest::kRead;
    g_script->sent.push_back({request, body ? *body : Json::Value()});
    if (request == CalendarRequest::kSetTracking)
        return ServiceReply();
    if (request == CalendarRequest::kIdList)
        return g_script->idList;
    size_t index = 0;
    for (const Sent& s : g_script->sent)
        index += s.request == CalendarRequest::kRead;
    return g_script->read((*body)["objects"], index - 1);
}

ServiceReply Ok(const Json::Value& objects) {
    ServiceReply r;
    r.outcome = ServiceReply::kOk;
    r.document["status"] = 0;
    r.document["objects"] = objects;
    return r;
}

ServiceReply Ids(int count) {
    Json::Value ids(Json::arrayValue);
    for (int i = 1; i <= count; ++i) {
        Json::Value id;
        id["__id"] = i; // the service may send numbers
        ids.append(id);
    }
    return Ok(ids);
}

// One plain event per id asked for.
ServiceReply EventsFor(const Json::Value& ids, size_t) {
    Json::Value rows(Json::arrayValue);
    for (const Json::Value& id : ids) {
        Json::Value row;
        row["__id"] = id["__id"];
        row["title"] = "Event " + id["__id"].asString();
        row["dtstart"] = "1330909200000";
        row["dtend"] = "1330912800000";
        rows.append(row);
    }
    return Ok(rows);
}

class CalendarReadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &script;
        InitSyncParams params{0, recorder.window(), 0, u"http://127.0.0.1:1", u"serial"};
        theApp.m_FakePhone.InitSync(0, &params);
        script.read = EventsFor;
    }
    void TearDown() override {
        kxtest::ResetDriver();
        g_script = nullptr;
    }
    FixedZoneEnv zone{480};
    Script script;
    kxtest::HostWindowRecorder recorder;
};

TEST_F(CalendarReadTest, TrackingBitAndEntriesThatAreNotObjects) {
    script.idList =
        Ok(kxtest::ParseJson(R"([{"__id":"1"},5,"x",null,[{"__id":"9"}],{"__id":"2"},{"other":1}])"));
    EXPECT_EQ(KX_OK, RunCalendarRead(theApp.m_FakePhone, KX_READ_NO_TRACKING, nullptr, &Scripted));
    ASSERT_EQ(2u, script.sent.size());
    EXPECT_EQ(CalendarRequest::kIdList, script.sent[0].request);
    EXPECT_EQ(kxtest::ParseJson(R"({"objects":[{"__id":"1"},{"__id":"2"},{"__id":""}]})"),
              script.sent[1].body);
}

TEST_F(CalendarReadTest, FailuresMapTo1100AndEndWithTheFailedMessage) {
    const std::pair<ServiceReply::Outcome, const char*> outcomes[] = {
        {ServiceReply::kTransport, "no answer"},
        {ServiceReply::kNoAnswer, "no answer"},
        {ServiceReply::kStatus, "status not 0"},
        {ServiceReply::kBadAnswer, "answer is not JSON"},
        {ServiceReply::kStopped, "stopped"}};
    // The id list fails, or the second batch of 30 does.
    for (bool idListFails : {true, false})
        for (const auto& [kind, what] : outcomes) {
            const std::string error =
                (idListFails ? "calendar id list: " : "calendar read: ") + std::string(what);
            const int32_t result = kind == ServiceReply::kStopped ? KX_STOPPED : KX_OTHER_FAILURE;
            SCOPED_TRACE(error);
            recorder.Clear();
            script.sent.clear();
            kxtest::TraceCapture trace;
            script.idList = Ids(45);
            if (idListFails)
                script.idList.outcome = kind;
            script.read = [kind = kind](const Json::Value& ids, size_t index) {
                ServiceReply r = EventsFor(ids, index);
                if (index == 1)
                    r.outcome = kind;
                return r;
            };
            EXPECT_EQ(result, RunCalendarRead(theApp.m_FakePhone, 0, nullptr, &Scripted));
            EXPECT_EQ(idListFails ? 0u : 30u, recorder.Count(0x80001));
            std::vector<kxtest::HostMessage> messages = recorder.Messages();
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ((kxtest::HostMessage{0x80002u, result}), messages.back());
            EXPECT_EQ(0u, recorder.Count(0x80003));
            EXPECT_EQ(1u, trace.LinesWith({"[Caller=CKXFakePhone::ReadCalendar],[Action=Error]"}).size());
            EXPECT_EQ(1u, trace.LinesWith({"[Action=Error],[Function=" + error + "]"}).size());
        }
    // An id list without objects fails as well.
    recorder.Clear();
    kxtest::TraceCapture trace;
    script.idList = Ok(Json::Value());
    EXPECT_EQ(KX_OTHER_FAILURE, RunCalendarRead(theApp.m_FakePhone, 0, nullptr, &Scripted));
    EXPECT_EQ(1u, trace.LinesWith({"[Action=Error],[Function=calendar id list: no objects]"}).size());
}

} // namespace
