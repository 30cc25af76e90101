// kxsync's record lines without a handset: a printed line with an "op" parses back into a record
// that prints the same line, and bad lines say what is wrong.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "record_json.h"
#include "record_text.h"

namespace {

std::string WithOp(const std::string& line, const char* op) {
    Json::Value v;
    Json::Reader().parse(line, v);
    v["op"] = op;
    return kxsync::JsonLineText(v);
}

TEST(KxsyncRecordLines, PrintedLinesParseBackToTheSameLine) {
    const char* const contacts[] = {
        R"({"fields":{"email":"a@example.com","email2":"b@example.com","familyName":"García","field4711":"x",)"
        R"("givenName":"José","mobile":["+1 1","+1 2"],"note":"one\r\ntwo 🎈"},"id":"17",)"
        R"("modified":"2026-02-28 19:01:00","picture":"/tmp/p.png"})",
        // The picture on a holder of its own, and a date the printer shows as "".
        R"({"fields":{"company":"Acme"},"id":"","modified":"","picture":"/tmp/q.png"})",
    };
    for (const char* line : contacts) {
        ContactRecord r;
        std::string error;
        ASSERT_TRUE(kxsync::ParseContactLine(WithOp(line, "update"), &r, &error)) << line << ": " << error;
        EXPECT_EQ(line, kxsync::ContactJsonLine(r));
        EXPECT_EQ(KX_RECORD_UPDATE, r.lFlag);
    }
    const char* const events[] = {
        R"({"allDay":false,"calendar":3,"description":"d\r\ne","end":"2026-01-05 09:45:00",)"
        R"("exceptions":"<exception><deletion time=\"2026/01/10\"/></exception>","iCalGUID":"g-1","id":"3",)"
        R"("location":"Room 1","modified":"2026-02-28 23:21:00","reminderMinutes":0,)"
        R"("repeat":{"days":"MO,WE","interval":2,"kind":"monthly","until":"2026-06-30 09:30:00","week":-1},)"
        R"("start":"2026-01-05 09:30:00","timeZone":"GMT:0;DST:0","title":"Stand-up"})",
        R"({"allDay":true,"calendar":1,"end":"2026-01-02 00:00:00","id":"2","modified":"1899-12-30 00:00:00",)"
        R"("repeat":{"day":1,"interval":1,"kind":"yearly","month":1},"start":"2026-01-01 00:00:00","title":""})",
        R"({"allDay":false,"calendar":0,"end":"","id":"","modified":"","repeat":{"interval":1,"kind":"weekly",)"
        R"("week":0},"start":"","title":"t"})",
    };
    for (const char* line : events) {
        CalendarRecord r;
        std::string error;
        ASSERT_TRUE(kxsync::ParseCalendarLine(WithOp(line, "delete"), &r, &error)) << line << ": " << error;
        EXPECT_EQ(line, kxsync::CalendarJsonLine(r));
        EXPECT_EQ(KX_RECORD_DELETE, r.lFlag);
    }
    // Left out, the members take what a read gives them, or an unchanged line written back would
    // change the handset (an alarm on every event, a rule every second day).
    CalendarRecord r;
    std::string error;
    ASSERT_TRUE(kxsync::ParseCalendarLine(R"({"op":"create","repeat":{"kind":"daily"}})", &r, &error))
        << error;
    EXPECT_EQ(
        R"({"allDay":false,"calendar":0,"end":"1899-12-30 00:00:00","id":"","modified":"1899-12-30 00:00:00",)"
        R"("repeat":{"interval":1,"kind":"daily"},"start":"1899-12-30 00:00:00","title":""})",
        kxsync::CalendarJsonLine(r));
}

TEST(KxsyncRecordLines, BadLinesSayWhatIsWrong) {
    const struct {
        bool event;
        const char* line;
        const char* says;
    } cases[] = {
        {false, R"({"id":"1"})", "no \"op\" (create, update or delete)"},
        {false, R"({"op":"upsert"})", "unknown \"op\" \"upsert\""},
        {false, "{\"op\":\"create\"", "not JSON (Line 1, Column"},
        {false, R"({"op":"create","op":"delete"})", "Duplicate key: 'op'"},
        {false, R"({"op":"create","name":"A"})", "unknown member \"name\""},
        {false, R"({"op":"create","fields":{"email1":"a"}})", "unknown field \"email1\""},
        {false, R"({"op":"create","fields":{"mobile":[1]}})",
         "field \"mobile\" must be a string or an array"},
        {false, R"({"op":"create","fields":[]})", "\"fields\" must be an object"},
        {false, R"({"op":"create","modified":"2026-02-30 10:00:00"})", "\"modified\" must be a date"},
        {true, R"({"op":"create","allDay":1})", "\"allDay\" must be true or false"},
        {true, R"({"op":"create","reminderMinutes":"5"})", "\"reminderMinutes\" must be a whole number"},
        {true, R"({"op":"create","repeat":"daily"})", "\"repeat\" must be an object"},
        {true, R"({"op":"create","repeat":{"kind":"hourly"}})", "\"kind\" in \"repeat\" must be daily"},
        {true, R"({"op":"create","repeat":{"kind":"weekly","days":"MO,XX"}})", "\"days\" in \"repeat\""},
        {true, R"({"op":"create","repeat":{"kind":"weekly","count":3}})",
         "unknown member \"count\" in \"repeat\""},
    };
    for (const auto& c : cases) {
        std::string error;
        ContactRecord contact;
        CalendarRecord event;
        bool parsed = c.event ? kxsync::ParseCalendarLine(c.line, &event, &error)
                              : kxsync::ParseContactLine(c.line, &contact, &error);
        EXPECT_FALSE(parsed) << c.line;
        EXPECT_NE(std::string::npos, error.find(c.says)) << c.line << " gave: " << error;
    }
}

} // namespace
