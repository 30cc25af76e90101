// The calendar change-log reader and clear against a scripted service: what the simulator never
// logs (a changed instance under its own id, runs of deletions, entries without ids, broken
// batch answers) and how the clear's ids are batched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calendar/calendar_changelog.h"
#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/host_window_recorder.h"
#include "support/test_util.h"
#include "support/trace_capture.h"
#include "sync/change_log_clear.h"

namespace {

using kxtest::ParseJson;

struct Script {
    Json::Value log;
    std::string rows = R"({"status":0,"objects":[]})"; // answer text of every read ("" for none)
    std::vector<std::string> answers; // answer texts of the first reads, in order, before rows
    std::vector<std::string> reads;   // the ids of each read request
} g;

ServiceReply Reply(const std::string& text) {
    ServiceReply r;
    if (text.empty()) {
        r.outcome = ServiceReply::kNoAnswer;
        return r;
    }
    r.document = ParseJson(text);
    r.outcome = r.document.isObject()
                    ? (r.document["status"].asInt() == 0 ? ServiceReply::kOk : ServiceReply::kStatus)
                    : ServiceReply::kBadAnswer;
    return r;
}

ServiceReply Scripted(const ServiceRequest& request, const Json::Value* body) {
    if (&request == &service::kTrackingChangeLog) {
        ServiceReply r = Reply(R"({"status":0})");
        r.document["objects"] = g.log;
        return r;
    }
    std::string ids;
    for (const Json::Value& id : (*body)["objects"])
        ids += id["__id"].asString() + " ";
    g.reads.push_back(ids);
    return Reply(g.reads.size() <= g.answers.size() ? g.answers[g.reads.size() - 1] : g.rows);
}

std::vector<uint32_t> g_callbacks;
void KX_STDCALL RecordCallback(uint32_t code, uintptr_t) {
    g_callbacks.push_back(code);
}
void KX_STDCALL ProgressCallback(int32_t) {
    g_callbacks.push_back(KX_PROGRESS_PERCENT);
}

class CalendarChangeLog : public ::testing::Test {
protected:
    void SetUp() override {
        g = Script();
        g_callbacks.clear();
        InitSyncParams params{0, host.window(), 0, u"http://127.0.0.1:1", u"S"};
        theApp.m_FakePhone.InitSync(0, &params);
        theApp.m_FakePhone.RecordCallback = &RecordCallback;
        theApp.m_FakePhone.ProgressCallback = &ProgressCallback;
    }
    void TearDown() override { kxtest::ResetDriver(); }
    kxtest::HostWindowRecorder host;
};

// Thirty-five deletions, an entry without an id, then three events: added, modified, added alone.
TEST_F(CalendarChangeLog, DeletionsLeaveTheBatchesAndTheRestIsRead) {
    for (int i = 100; i < 135; ++i)
        g.log.append(ParseJson(R"({"__id":")" + std::to_string(i) + R"(","_delete":"1"})"));
    g.log.append(ParseJson(R"({"__id":"","_delete":"1"})"));
    g.log.append(ParseJson(R"({"__id":"1","_add":"1","_modify":"1"})"));
    g.log.append(ParseJson(R"({"__id":"2","_modify":"1"})"));
    g.log.append(ParseJson(R"({"__id":"3","_add":"1"})"));
    g.rows = R"({"status":0,"objects":[{"__id":"1","title":"a","dtstart":"1330909200000"},
        {"__id":"2","title":"b","dtstart":"1330909200000"},{"__id":"3","title":"c","dtstart":"1330909200000"}]})";
    std::vector<int32_t> flags;
    host.SetHook([&](uint32_t code, intptr_t value) {
        if (code == 0x80001)
            flags.push_back(reinterpret_cast<const CalendarRecord*>(value)->lFlag);
    });
    kxtest::TraceCapture trace;
    EXPECT_EQ(KX_OK, RunCalendarChangeLogRead(theApp.m_FakePhone, &Scripted));

    EXPECT_EQ((std::vector<std::string>{"1 2 3 "}), g.reads);
    std::vector<int32_t> expected(35, KX_RECORD_DELETE);
    expected.insert(expected.end(), {8, 4, 0});
    EXPECT_EQ(expected, flags);
    // Deletions and percentages by message only; merged records through the callback too.
    EXPECT_EQ((std::vector<uint32_t>{0x80001, 0x80001, 0x80001}), g_callbacks);
    EXPECT_EQ((std::vector<intptr_t>{0, 2, 5}), host.ValuesOf(KX_PROGRESS_PERCENT));
    EXPECT_EQ(1u, trace.LinesWith({"[Function=calendar change log: deletion without an id skipped]"}).size());
    EXPECT_EQ(1u,
              trace.LinesWith({"[Function= #################### Read People:39 /39 #################### ]"})
                  .size());
}

// A changed instance logged under its own id brings its parent, marked modified.
TEST_F(CalendarChangeLog, AnInstanceWithoutItsParentBringsTheParent) {
    g.log.append(ParseJson(R"({"__id":"7","_modify":"1"})"));
    const std::string instance =
        R"({"__id":"7","parentID":"5","originalInstanceTime":"1331514000000","dtstart":"1331517600000","title":"x"})";
    // The parent's answer brings the instance again: it is merged once.
    g.answers = {R"({"status":0,"objects":[)" + instance + "]}",
                 R"({"status":0,"objects":[{"__id":"5","title":"Weekly","dtstart":"1330909200000",
                    "duration":"P3600S","rrule":"FREQ=WEEKLY;BYDAY=MO"},)" +
                     instance + "]}"};
    std::string exceptionText;
    std::vector<std::pair<std::u16string, int32_t>> seen;
    host.SetHook([&](uint32_t code, intptr_t value) {
        auto r = reinterpret_cast<const CalendarRecord*>(value);
        if (code == 0x80001) {
            seen.emplace_back(r->strId, r->lFlag);
            if (const CalendarField* f = r->LastField(KX_CAL_EXCEPTIONS))
                exceptionText = std::string(f->strData.begin(), f->strData.end());
        }
    });
    EXPECT_EQ(KX_OK, RunCalendarChangeLogRead(theApp.m_FakePhone, &Scripted));
    EXPECT_EQ((std::vector<std::string>{"7 ", "5 "}), g.reads);
    EXPECT_EQ((std::vector<std::pair<std::u16string, int32_t>>{{u"5", KX_RECORD_UPDATE}}), seen);
    EXPECT_EQ(exceptionText.find("<modification"), exceptionText.rfind("<modification")) << exceptionText;
    EXPECT_NE(std::string::npos, exceptionText.find("<modification")) << exceptionText;
}

TEST_F(CalendarChangeLog, BrokenBatchAnswersFailTheRead) {
    g.log.append(ParseJson(R"({"__id":"1","_modify":"1"})"));
    for (const char* answer : {"", "[1]", R"({"status":3})", R"({"status":0,"objects":{"__id":"1"}})"}) {
        SCOPED_TRACE(answer);
        g.rows = answer;
        host.Clear();
        EXPECT_EQ(KX_OTHER_FAILURE, RunCalendarChangeLogRead(theApp.m_FakePhone, &Scripted));
        EXPECT_EQ((std::vector<uint32_t>{0x80002}), host.Codes());
    }
}

TEST_F(CalendarChangeLog, ClearBatchesStayBelowTheLimit) {
    const std::string huge(20480, '9');
    struct Case {
        std::vector<std::string> ids;
        size_t limit;
        std::vector<size_t> sizes;
    };
    const Case cases[] = {
        {{}, 20480, {}},
        {{"1", "2", "3"}, 20480, {3}},
        {{"1", "2", "3"}, 26, {2, 1}}, // {"__id":"1"} is 12 bytes: 24 < 26, 36 is not
        {{"1", "2", "3"}, 24, {1, 1, 1}},
        {{"1", huge, "2"}, 20480, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        std::vector<size_t> sizes;
        for (const Json::Value& batch : ClearBatches(c.ids, c.limit))
            sizes.push_back(batch.size());
        EXPECT_EQ(c.sizes, sizes) << c.limit;
    }
    // Types other than contacts and calendar leave their argument unread.
    EXPECT_EQ(KX_FAILED, theApp.m_FakePhone.CleanChangeLog(5, 0xDEAD));
    EXPECT_EQ(KX_FAILED, theApp.m_FakePhone.CleanChangeLog(KX_TYPE_CALENDAR, 0));
}

} // namespace
