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
#include "support/trace_capture.h"

namespace {

using caltest::FixedZoneEnv;

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

// The requests of the read, as the script sees them.
enum class CalendarRequest { kSetTracking, kIdList, kRead };

struct Sent {
    CalendarRequest request;
    std::string body;
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
    g_script->sent.push_back({request, body ? Compact(*body) : std::string()});
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
    Json::Value ids;
    Json::Reader().parse(R"([{"__id":"1"},5,"x",null,[{"__id":"9"}],{"__id":"2"},{"other":1}])", ids);
    script.idList = Ok(ids);
    EXPECT_EQ(KX_OK, RunCalendarRead(theApp.m_FakePhone, KX_READ_NO_TRACKING, nullptr, &Scripted));
    ASSERT_EQ(2u, script.sent.size());
    EXPECT_EQ(CalendarRequest::kIdList, script.sent[0].request);
    EXPECT_EQ(R"({"objects":[{"__id":"1"},{"__id":"2"},{"__id":""}]})", script.sent[1].body);
}

TEST_F(CalendarReadTest, FailuresMapTo1100AndEndWithTheFailedMessage) {
    const struct {
        const char* name;
        bool idListFails;
        ServiceReply::Outcome kind;
        int32_t result;
        size_t delivered;
        const char* error; // the traced text
    } cases[] = {
        {"id list unanswered", true, ServiceReply::kTransport, KX_OTHER_FAILURE, 0,
         "calendar id list: no answer"},
        {"id list empty answer", true, ServiceReply::kNoAnswer, KX_OTHER_FAILURE, 0,
         "calendar id list: no answer"},
        {"id list status", true, ServiceReply::kStatus, KX_OTHER_FAILURE, 0,
         "calendar id list: status not 0"},
        {"id list not JSON", true, ServiceReply::kBadAnswer, KX_OTHER_FAILURE, 0,
         "calendar id list: answer is not JSON"},
        {"id list cancelled", true, ServiceReply::kStopped, KX_STOPPED, 0, "calendar id list: stopped"},
        {"second batch unanswered", false, ServiceReply::kTransport, KX_OTHER_FAILURE, 30,
         "calendar read: no answer"},
        {"second batch status", false, ServiceReply::kStatus, KX_OTHER_FAILURE, 30,
         "calendar read: status not 0"},
        {"second batch not JSON", false, ServiceReply::kBadAnswer, KX_OTHER_FAILURE, 30,
         "calendar read: answer is not JSON"},
        {"second batch cancelled", false, ServiceReply::kStopped, KX_STOPPED, 30, "calendar read: stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recorder.Clear();
        script.sent.clear();
        kxtest::TraceCapture trace;
        script.idList = Ids(45);
        if (c.idListFails) {
            script.idList.outcome = c.kind;
        }
        script.read = [&c](const Json::Value& ids, size_t index) {
            ServiceReply r = EventsFor(ids, index);
            if (index == 1)
                r.outcome = c.kind;
            return r;
        };
        EXPECT_EQ(c.result, RunCalendarRead(theApp.m_FakePhone, 0, nullptr, &Scripted));
        EXPECT_EQ(c.delivered, recorder.Count(0x80001));
        std::vector<kxtest::HostMessage> messages = recorder.Messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(0x80002u, messages.back().code);
        EXPECT_EQ(c.result, messages.back().value);
        EXPECT_EQ(0u, recorder.Count(0x80003));
        EXPECT_EQ(1u, trace.LinesWith({"[Caller=CKXFakePhone::ReadCalendar],[Action=Error]"}).size());
        EXPECT_EQ(1u, trace.LinesWith({"[Action=Error],[Function=" + std::string(c.error) + "]"}).size());
    }
    // An id list without objects fails as well.
    recorder.Clear();
    kxtest::TraceCapture trace;
    script.idList = Ok(Json::Value());
    EXPECT_EQ(KX_OTHER_FAILURE, RunCalendarRead(theApp.m_FakePhone, 0, nullptr, &Scripted));
    EXPECT_EQ(1u, trace.LinesWith({"[Action=Error],[Function=calendar id list: no objects]"}).size());
}

} // namespace
