// kxsync's record form without a handset: a printed line parses back into a record that prints the
// same line, a record the driver builds survives its line member by member (its exception list
// byte for byte), times carry their zone across clock changes, and bad lines say what is wrong.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdio>
#include <string>
#include <vector>

#include <kxphone/record_list.h>

#include "calendar/calendar_mapping.h"
#include "platform/oledate.h"
#include "record_dump.h"
#include "record_json.h"
#include "record_text.h"
#include "support/test_util.h"

namespace {

std::string EventAgain(const std::string& line) {
    CalendarRecord r;
    std::string error;
    EXPECT_TRUE(kxsync::ParseCalendarLine(line, &r, &error)) << line << ": " << error;
    return kxsync::CalendarJsonLine(r);
}

TEST(KxsyncRecordLines, PrintedLinesParseBackToTheSameLine) {
    kxtest::ScopedEnvVar zone("TZ", "Europe/Berlin");
    const char* const contacts[] = {
        // Every field a list, whatever its count; "op" only with a status bit.
        R"j({"fields":{"email":["a@example.com"],"email2":["b@example.com"],"familyName":["García"],)j"
        R"j("field4711":["x"],"givenName":["José"],"mobile":["+1 1","+1 2"],"note":["one\r\ntwo 🎈"]},"id":"17",)j"
        R"j("modified":"2026-02-28T19:01:00+01:00","picture":"/tmp/p.png"})j",
        // The picture on a holder of its own, an invalid date, the status bit.
        R"j({"fields":{"company":["Acme"]},"id":"","modified":"","op":"update","picture":"/tmp/q.png"})j",
        // No time at all: no "modified".
        R"j({"fields":{},"id":"3","op":"delete"})j",
    };
    for (const char* line : contacts) {
        ContactRecord r;
        std::string error;
        EXPECT_TRUE(kxsync::ParseContactLine(line, &r, &error)) << line << ": " << error;
        EXPECT_EQ(line, kxsync::ContactJsonLine(r));
    }

    const char* const events[] = {
        R"j({"allDay":false,"calendar":3,"description":"d\r\ne","end":"2026-07-05T09:45:00+02:00",)j"
        R"j("exceptions":{"cancelled":["2026-07-10","2026-07-11"],"moved":[{"allDay":false,)j"
        R"j("description":"moved, with a text of more than fifty-seven bytes of UTF-16: ünïcödé 🎈",)j"
        R"j("end":"2026-07-08T11:15:00+02:00","location":"Room\n2","original":"2026-07-08","reminderMinutes":20,)j"
        R"j("start":"2026-07-08T11:00:00+02:00","title":"Stand-up (moved)"},{"allDay":false,)j"
        R"j("end":"2026-07-09T12:15:00+02:00","original":"2026-07-09","reminderMinutes":null,)j"
        R"j("start":"2026-07-09T12:00:00+02:00"}]},)j"
        R"j("iCalGUID":"g-1","id":"3","location":"Room 1","modified":"2026-02-28T23:21:00+01:00",)j"
        R"j("reminderMinutes":0,"repeat":{"days":["MO","WE"],"interval":2,"kind":"monthly",)j"
        R"j("until":"2026-12-30T09:30:00+01:00","week":-1},"start":"2026-07-05T09:30:00+02:00",)j"
        R"j("timeZone":"GMT:-60;DST:60","title":"Stand-up"})j",
        // All-day: days without a zone, also in its moved instances.
        R"j({"allDay":true,"calendar":1,"end":"2026-01-02","exceptions":{"cancelled":[],"moved":[{"allDay":true,)j"
        R"j("end":"2027-01-02","original":"2027-01-01","start":"2027-01-01","title":"moved"}]},"id":"2",)j"
        R"j("repeat":{"day":1,"interval":1,"kind":"yearly","month":1,"until":"2030-01-01"},"start":"2026-01-01",)j"
        R"j("title":""})j",
        // A list not in the driver's form is kept as it is.
        R"j({"allDay":false,"calendar":0,"exceptions":{"xml":"<exceptions><x/></exceptions>"},"id":"",)j"
        R"j("op":"create","repeat":{"interval":1,"kind":"weekly","week":0},"title":"t"})j",
    };
    for (const char* line : events)
        EXPECT_EQ(line, EventAgain(line));
    // A moved instance written without an end lasts as long as its event.
    EXPECT_NE(
        std::string::npos,
        EventAgain(
            R"j({"start":"2026-07-05T09:30:00+02:00","end":"2026-07-05T10:00:00+02:00",)j"
            R"j("exceptions":{"moved":[{"original":"2026-07-06","start":"2026-07-06T11:00:00+02:00"}]}})j")
            .find(R"j("end":"2026-07-06T11:30:00+02:00")j"));
}

// Times written in another zone are converted to this one's; what the printer writes comes back as
// the same wall-clock time, also in the hours a clock change repeats or skips.
TEST(KxsyncRecordLines, TimesSayTheirZone) {
    kxtest::ScopedEnvVar zone("TZ", "Europe/Berlin");
    auto start = [](const std::string& text) {
        CalendarRecord r;
        std::string error;
        EXPECT_TRUE(kxsync::ParseCalendarLine(R"j({"start":")j" + text + R"j("})j", &r, &error))
            << text << error;
        return kxsync::ZonedTimeText(r.dtStart);
    };
    EXPECT_EQ("2026-07-05T09:30:00+02:00", start("2026-07-05T07:30:00Z"));
    EXPECT_EQ("2026-01-05T15:30:00+01:00", start("2026-01-05T09:30:00-05:00"));
    EXPECT_EQ("2026-01-05T15:30:00+01:00", start("2026-01-05T20:00:00+05:30"));
    EXPECT_EQ("2026-07-05T09:30:00+02:00", start("2026-07-05 09:30:00")); // no zone: this one's
    EXPECT_EQ("2026-07-05T00:00:00+02:00", start("2026-07-05"));
    // The hour repeated on 2026-10-25 is one wall-clock time in a record, whichever offset is given.
    EXPECT_EQ(start("2026-10-25T02:30:00+02:00"), start("2026-10-25T02:30:00+01:00"));
    EXPECT_EQ(0u, start("2026-10-25T02:30:00+01:00").find("2026-10-25T02:30:00+0"));

    // Every quarter hour of a year with two clock changes, and the day 0.0 with its local mean
    // time offset, printed and read back.
    std::vector<platform::OleDate> dates = {platform::OleDate()};
    for (int64_t s = platform::OleDate::FromCivil(2026, 1, 1).TotalSeconds(),
                 end = platform::OleDate::FromCivil(2027, 1, 1).TotalSeconds();
         s < end; s += 900)
        dates.push_back(platform::OleDate::FromTotalSeconds(s));
    for (const platform::OleDate& date : dates) {
        std::string text = kxsync::ZonedTimeText(date), why;
        platform::OleDate back;
        ASSERT_TRUE(kxsync::ParseTimeText(text, true, &back, &why)) << text << ": " << why;
        ASSERT_EQ(date.days, back.days) << text;
    }
}

// The text with each "@yyyy-mm-dd hh:mm" (UTC) as epoch milliseconds.
std::string WithMillis(std::string text) {
    for (size_t at; (at = text.find('@')) != std::string::npos;) {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0;
        EXPECT_EQ(5, std::sscanf(text.c_str() + at, "@%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi));
        text.replace(at, 17,
                     std::to_string(((platform::DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000));
    }
    return text;
}

// Events as the driver's read builds them from the handset's rows (moved instances merged into
// their event's exception list) are the same records after their line.
TEST(KxsyncRecordLines, EventsTheDriverBuildsSurviveTheirLines) {
    kxtest::ScopedEnvVar zone("TZ", "Europe/Berlin");
    Json::Value rows = kxtest::ParseJson(WithMillis(R"j({"objects":[
        {"__id":"3","calendar_id":"1","title":"Stand-up","description":"one\ntwo","eventLocation":"Room 1",
         "dtstart":"@2026-07-05 07:30","dtend":"@2026-07-05 07:45","allDay":"0","hasAlarm":"1",
         "__data":[{"method":"1","minutes":"5"}],"rrule":"FREQ=DAILY;UNTIL=20260714T073000Z",
         "exdate":"20260710T073000Z,20260711T073000Z","eventTimezone":"Europe/Berlin","iCalGUID":"g-3",
         "last_update_time":"@2026-02-28 19:01"},
        {"__id":"9","parentID":"3","calendar_id":"1","originalInstanceTime":"@2026-07-08 07:30",
         "dtstart":"@2026-07-08 09:00","dtend":"@2026-07-08 09:15","allDay":"0",
         "title":"Moved, with a title of more than fifty-seven bytes of UTF-16: ünïcödé 🎈",
         "eventLocation":"Room\n2","hasAlarm":"1","__data":[{"minutes":"20","method":"1"}]},
        {"__id":"10","parentID":"3","originalInstanceTime":"@2026-07-09 07:30","dtstart":"@2026-07-09 10:00",
         "allDay":"0","hasAlarm":"1"},
        {"__id":"4","calendar_id":"2","title":"Holiday","allDay":"1","dtstart":"@2026-01-01 00:00",
         "dtend":"@2026-01-02 00:00","rrule":"FREQ=YEARLY;BYMONTH=1;BYMONTHDAY=1","exdate":"20280101"},
        {"__id":"11","parentID":"4","originalAllDay":"1","originalInstanceTime":"@2027-01-01 00:00",
         "dtstart":"@2027-01-02 00:00","dtend":"@2027-01-03 00:00","allDay":"1","title":"later"},
        {"__id":"5","calendar_id":"1","title":"Monthly","dtstart":"@2026-03-29 00:30","duration":"P3600S",
         "rrule":"FREQ=MONTHLY;BYDAY=-1SU;INTERVAL=2;COUNT=4"}]})j"));
    RecordList<CalendarRecord> records;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    ASSERT_EQ(3, kxconv::ToCalendarList(rows, &records, &exdates, &exceptions));
    CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
    for (const CalendarRecord* r : records) {
        std::string line = kxsync::CalendarJsonLine(*r), error;
        if (r->strId != u"5") {
            EXPECT_NE(std::string::npos, line.find("\"exceptions\":{\"cancelled\":")) << line;
            EXPECT_EQ(std::string::npos, line.find("\"xml\"")) << line;
        }
        CalendarRecord again;
        ASSERT_TRUE(kxsync::ParseCalendarLine(line, &again, &error)) << line << ": " << error;
        SCOPED_TRACE(line);
        EXPECT_EQ(kxtest::Dump(*r), kxtest::Dump(again));
        EXPECT_EQ(line, kxsync::CalendarJsonLine(again));
    }
    EXPECT_NE(std::string::npos,
              kxsync::CalendarJsonLine(*records[0])
                  .find(R"j("moved":[{"allDay":false,"end":"2026-07-08T11:15:00+02:00",)j"
                        R"j("location":"Room\n2","original":"2026-07-08","reminderMinutes":20,)j"
                        R"j("start":"2026-07-08T11:00:00+02:00","title":"Moved, with a title)j"));
}

// A contact as a read builds it: every field, in the types' order, its picture, its id and time.
TEST(KxsyncRecordLines, ContactsSurviveTheirLines) {
    kxtest::ScopedEnvVar zone("TZ", "America/New_York");
    ContactRecord r;
    r.strPIMID = u"12";
    r.lPhoneMemory = 12;
    r.dtLocation = 1;
    r.strLastModify = platform::OleDate::FromCivil(2026, 3, 8, 2, 30); // a time the clock skips
    kxtest::AddFields(&r, "1=Ann|2=Lee|104=111|104=222|1000=a@example.com|1002=c@example.com|"
                          "3002=one\r\ntwo\t\x01|3018=Friends;Family|4023=ann|4711=other");
    r.SetPicturePath(u"/tmp/pic0123.png");
    std::string line = kxsync::ContactJsonLine(r), error;
    EXPECT_NE(std::string::npos, line.find(R"j("mobile":["111","222"])j")) << line;
    EXPECT_NE(std::string::npos, line.find(R"j("modified":"2026-03-08T02:30:00-05:00")j")) << line;
    ContactRecord again;
    ASSERT_TRUE(kxsync::ParseContactLine(line, &again, &error)) << error;
    EXPECT_EQ(kxtest::Dump(r), kxtest::Dump(again));
    EXPECT_EQ(line, kxsync::ContactJsonLine(again));
}

TEST(KxsyncRecordLines, BadLinesSayWhatIsWrong) {
    const struct {
        bool event;
        const char* line;
        const char* says;
    } cases[] = {
        {false, R"({"op":"upsert"})", R"(unknown "op" "upsert")"},
        {false, R"({"op":"create")", "not JSON (Line 1, Column"},
        {false, R"({"op":"create","op":"delete"})", "Duplicate key: 'op'"},
        {false, R"([1])", "not a JSON object"},
        {false, R"({"op":"create","name":"A"})", R"(unknown member "name")"},
        {false, R"({"op":"create","fields":{"email1":["a"]}})", R"(unknown field "email1")"},
        {false, R"({"op":"create","fields":{"mobile":[1]}})", R"(field "mobile" must be a list of strings)"},
        {false, R"({"op":"create","fields":{"mobile":"111"}})",
         R"(field "mobile" must be a list of strings)"},
        {false, R"({"op":"create","fields":[]})", R"("fields" must be an object)"},
        {false, R"({"op":"create","modified":"2026-02-30 10:00:00"})", R"("modified" must be a time)"},
        {false, R"({"modified":"2026-02-03T10:00:00+1:00"})", R"("modified" must be a time)"},
        {true, R"({"op":"create","allDay":1})", R"("allDay" must be true or false)"},
        {true, R"({"allDay":true,"start":"2026-01-01T00:00:00+01:00"})",
         R"("start" must be a day "yyyy-mm-dd")"},
        {true, R"({"op":"create","reminderMinutes":"5"})", R"("reminderMinutes" must be a whole number)"},
        {true, R"({"op":"create","repeat":"daily"})", R"("repeat" must be an object)"},
        {true, R"({"op":"create","repeat":{"kind":"hourly"}})", R"("kind" in "repeat" must be daily)"},
        {true, R"({"op":"create","repeat":{"kind":"weekly","days":"MO,WE"}})",
         R"("days" in "repeat" must be a list of day codes)"},
        {true, R"({"op":"create","repeat":{"kind":"weekly","days":["MO","XX"]}})",
         R"("days" in "repeat" must be a list of day codes SU, MO, TU, WE, TH, FR, SA, not ["MO","XX"])"},
        {true, R"({"op":"create","repeat":{"kind":"weekly","count":3}})",
         R"(unknown member "count" in "repeat")"},
        {true, R"({"exceptions":"<exception/>"})", R"("exceptions" must be an object)"},
        {true, R"({"exceptions":{"moved":[{"title":"x"}]}})", R"(no "start" in a moved instance)"},
        {true, R"({"exceptions":{"moved":[{"start":"soon"}]}})",
         R"("start" in a moved instance must be a time)"},
        {true, R"({"exceptions":{"moved":[{"start":"2026-01-01","allDay":true,"original":"1/1/2026"}]}})",
         R"("original" in a moved instance must be a day "yyyy-mm-dd", not "1/1/2026")"},
        {true, R"({"exceptions":{"cancelled":["2026/01/10"]}})",
         R"("cancelled" in "exceptions" must be a day "yyyy-mm-dd", not "2026/01/10")"},
        {true, R"({"exceptions":{"cancelled":"2026-01-10"}})",
         R"("cancelled" in "exceptions" must be a list)"},
        {true, R"({"exceptions":{"xml":"<exception/>","moved":[]}})",
         R"(unknown member "moved" in "exceptions")"},
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

TEST(KxsyncRecordText, ControlCharactersAreEscaped) {
    EXPECT_EQ("a\\nb\\r\\tc\\x01\\x7F\\\\d\\u0085é🎈",
              kxsync::Escaped("a\nb\r\tc\x01\x7f\\d\xc2\x85\xc3\xa9\xf0\x9f\x8e\x88"));
}

} // namespace
