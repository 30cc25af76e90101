#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "calendar/calendar_mapping.h"
#include "calendar_test_env.h"
#include "platform/format.h"
#include "support/test_util.h"
#include "transport/text_encoding.h"

namespace {

using caltest::Date;
using caltest::FixedZoneEnv;
using caltest::Traced;
using kxtest::TraceCapture;

const auto Parse = kxtest::ParseJson;

std::u16string FieldText(const CalendarRecord& r, int32_t type) {
    const CalendarField* f = r.LastField(type);
    return f ? f->strData : u"<none>";
}

// The record of a handset row; false for an exception or no object.
bool Read(const std::string& row, CalendarRecord* r, CalendarExdateList* exdates = nullptr,
          CalendarExceptionList* exceptions = nullptr) {
    return kxconv::ToCalendarEx(Parse(row), r, exdates, exceptions);
}

// The handset row written for a record.
Json::Value Row(const CalendarRecord& r) {
    Json::Value row;
    CalConv::FromCalendarEx(r, &row);
    return row;
}

std::string Instants(const CalendarExdateList& exdates) {
    std::string out;
    for (const auto& e : exdates)
        out += std::to_string(e.parentId) + ":" + e.instant + " ";
    return out;
}

// The fields of a written exception row that say when it is.
std::string When(const Json::Value& row) {
    return row["title"].asString() + " " + row["dtstart"].asString() + " " + row["dtend"].asString() + " " +
           row["originalInstanceTime"].asString();
}

// --- handset row to record ---

TEST(ToCalendarEx, AllDayWithDurationInSecondsHasNoZoneShift) {
    FixedZoneEnv zone(480);
    TraceCapture trace;
    CalendarRecord r;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    ASSERT_TRUE(
        Read(R"({"__id":"7","calendar_id":"1","allDay":"1","dtstart":"1326758400000","duration":"P86400S"})",
             &r, &exdates, &exceptions));
    EXPECT_EQ(Date(2012, 1, 17), r.dtStart);
    EXPECT_EQ(Date(2012, 1, 18), r.dtEnd);
    EXPECT_EQ(u"7", r.strId);
    // allDay id calendar reminder aux10 state aux7 recurrence fields
    EXPECT_EQ((std::vector<int64_t>{1, 7, 1, -1, 15, 0, 1, 0, 0}),
              (std::vector<int64_t>{r.bAllDay, r.lPhoneId, r.nCalendarId, r.lReminderMinutes, r.lAux10,
                                    r.lState, r.lAux7, r.lRecurType, static_cast<int64_t>(r.fields.size())}));
    // The missing "dtend" read as the epoch, which the duration overrides.
    EXPECT_TRUE(Traced(trace, "[Caller=kxconv::ToCalendarEx],[Action=Error],[Function=dttime error]"));
}

// Bytes that are no UTF-8 reach the host as U+FFFD, and the event says how many texts held them.
TEST(ToCalendarEx, TextThatIsNotUtf8) {
    TraceCapture trace;
    CalendarRecord r;
    ASSERT_TRUE(Read("{\"__id\":\"9\",\"title\":\"Zo\xc3y\",\"eventLocation\":\"\\udc00\",\"description\":"
                     "\"ok \xc3\xab\"}",
                     &r));
    EXPECT_EQ(u"Zo\uFFFDy", r.FirstField(KX_CAL_TITLE)->strData);
    EXPECT_EQ(u"\uFFFD", r.FirstField(KX_CAL_LOCATION)->strData);
    EXPECT_EQ(u"ok \u00eb", r.FirstField(KX_CAL_DESCRIPTION)->strData);
    EXPECT_TRUE(Traced(trace,
                       "[Caller=kxconv::ToCalendarEx],[Action=Error],[Function=event 9: 2 texts are not "
                       "UTF-8, U+FFFD given in place]"));
}

TEST(ToCalendarEx, DurationsAndEnds) {
    FixedZoneEnv zone(480);
    const platform::OleDate at8 = Date(2012, 1, 17, 8), at9 = Date(2012, 1, 17, 9);
    const struct {
        const char* row;
        platform::OleDate start, end;
        bool dttimeError;
    } cases[] = {
        // 2012-01-17 00:00 UTC is 08:00 at UTC+8.
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":" p1d "})", at8,
         Date(2012, 1, 18, 8), true},
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":"P3600S"})", at8, at9, false},
        // Markers without a number, or another unit: "dtend" stays.
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":"PS"})", at8, at9, false},
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":"PT1H"})", at8, at9, false},
        // Without a start, the end is the start.
        {R"({"dtstart":"2012-01-17 x","dtend":"1326762000000"})", at9, at9, false},
        // A duration needs a start, and an end before the year 10000: "dtend" stays.
        {R"({"dtstart":"2012-01-17 x","dtend":"1326762000000","duration":"P3600S"})", at9, at9, false},
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":"P99999999999D"})", at8, at9,
         false},
        {R"({"dtstart":"1326758400000","dtend":"1326762000000","duration":"P-99999999S"})", at8, at9, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        TraceCapture trace;
        CalendarRecord r;
        ASSERT_TRUE(Read(c.row, &r));
        EXPECT_EQ(c.start, r.dtStart);
        EXPECT_EQ(c.end, r.dtEnd);
        EXPECT_EQ(c.dttimeError, Traced(trace, "dttime error"));
    }
}

TEST(ToCalendarEx, ModifiedInstanceBecomesAnExceptionEntry) {
    FixedZoneEnv zone(480);
    CalendarRecord r;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    // 2012-03-05 09:00 UTC = 17:00 at UTC+8.
    EXPECT_FALSE(Read(R"({"__id":"30","parentID":"12","title":"Hi","allDay":"0","dtstart":"1330938000000",
        "dtend":"1330941600000","hasAlarm":"1","__data":[{"method":"1","minutes":"10"}]})",
                      &r, &exdates, &exceptions));
    ASSERT_EQ(1u, exceptions.size());
    EXPECT_EQ(12, exceptions[0].parentId);
    EXPECT_EQ("<modification datetime=\"2012/03/05 17:00:00\"><subject>SABpAA==</subject><allday>0</allday>"
              "<start>2012/03/05 17:00:00</start><end>2012/03/05 18:00:00</end><reminderset>1</reminderset>"
              "<reminderdelta>10</reminderdelta></modification>",
              exceptions[0].element);
    EXPECT_TRUE(exdates.empty());

    // All-day instance: no shift; an alarm flag without alarms has no delta; texts in order.
    exceptions.clear();
    EXPECT_FALSE(Read(R"({"parentID":" 12","allDay":"1","dtstart":"1330905600000","dtend":"1330992000000",
        "hasAlarm":"1","description":"B","eventLocation":"L","title":""})",
                      &r, nullptr, &exceptions));
    ASSERT_EQ(1u, exceptions.size());
    EXPECT_EQ("<modification datetime=\"2012/03/05 00:00:00\"><location>TAA=</location><body>QgA=</body>"
              "<allday>1</allday><start>2012/03/05 00:00:00</start><end>2012/03/06 00:00:00</end>"
              "<reminderset>1</reminderset></modification>",
              exceptions[0].element);
    // Without the lists the entry is dropped.
    EXPECT_FALSE(Read(R"({"parentID":"12"})", &r));

    // An instance whose start is no date cannot be placed: no entry, a trace line.
    for (const char* row : {R"({"parentID":"12","dtstart":"99999999999999999","dtend":"1330941600000"})",
                            R"({"parentID":"12","dtstart":"2012-13-45 99:99:99","dtend":"1330941600000"})",
                            R"({"parentID":"12","dtstart":"2012-03-05 x"})"}) {
        SCOPED_TRACE(row);
        TraceCapture trace;
        exceptions.clear();
        EXPECT_FALSE(Read(row, &r, nullptr, &exceptions));
        EXPECT_TRUE(exceptions.empty());
        EXPECT_TRUE(Traced(trace, "modified instance of 12 without a start dropped"));
    }
}

TEST(ToCalendarEx, TimeZoneTexts) {
    FixedZoneEnv zone(0);
    const struct {
        const char* zone;
        const char16_t* field;
    } cases[] = {{"utc", u"GMT:0;DST:0"},
                 {" UTC ", u"GMT:0;DST:0"},
                 {"480;60", u"GMT:-480;DST:60"},
                 {"-60;0", u"GMT:+60;DST:0"},
                 {"480", u"GMT:+0;DST:480"},
                 {"0;0", u"GMT:+0;DST:0"},
                 {"   ", u"<none>"},
                 {"", u"<none>"}};
    for (const auto& c : cases) {
        CalendarRecord r;
        ASSERT_TRUE(Read(R"({"eventTimezone":")" + std::string(c.zone) + "\"}", &r));
        EXPECT_EQ(c.field, FieldText(r, KX_CAL_TIMEZONE)) << c.zone;
    }
}

TEST(ToCalendarEx, TextsAlarmsRulesAndExdates) {
    FixedZoneEnv zone(480);
    TraceCapture trace;
    CalendarRecord r;
    CalendarExdateList exdates;
    ASSERT_TRUE(Read(R"({"__id":"9","title":"Caf\u00e9\nBar","description":"d",
        "eventLocation":"Room\n1","iCalGUID":"abc@x","hasAlarm":"1","__data":[{"minutes":"15"},{"minutes":"5"}],
        "dtstart":"1330909200000","rrule":"FREQ=WEEKLY;BYDAY=MO",
        "exdate":"20120305T010000Z,20120312T010000Z,2012-03-19,20120332T010000Z","last_update_time":"1330909200000"})",
                     &r, &exdates));
    EXPECT_EQ(u"Caf\u00e9\r\nBar", FieldText(r, KX_CAL_TITLE));
    EXPECT_EQ(u"Room\r\n1", FieldText(r, KX_CAL_LOCATION));
    EXPECT_EQ(u"abc@x", FieldText(r, KX_CAL_ICAL_GUID));
    std::vector<int32_t> types;
    for (const auto* f : r.fields)
        types.push_back(f->nType);
    EXPECT_EQ((std::vector<int32_t>{KX_CAL_TITLE, KX_CAL_DESCRIPTION, KX_CAL_ICAL_GUID, KX_CAL_LOCATION}),
              types);
    EXPECT_EQ(std::make_tuple(15, 2, 2), std::make_tuple(r.lReminderMinutes, r.lRecurType, r.lRecurDayMask));
    EXPECT_EQ(Date(2012, 3, 5, 9), r.dtStart);
    EXPECT_EQ(Date(2012, 3, 5, 9), r.dtLastModified);
    EXPECT_EQ("9:2012/03/05 09:00:00 9:2012/03/12 09:00:00 ", Instants(exdates));
    EXPECT_TRUE(Traced(trace, "exdate not a UTC instant: 2012-03-19"));
    EXPECT_TRUE(Traced(trace, "exdate not a UTC instant: 20120332T010000Z"));

    // All-day exdates keep their date; a leading comma belongs to the first part.
    CalendarRecord a;
    exdates.clear();
    ASSERT_TRUE(Read(R"({"__id":"4","allDay":"1","exdate":"20120305T000000Z,20120306,20120307T000000Z"})", &a,
                     &exdates));
    EXPECT_EQ("4:2012/03/05 00:00:00 4:2012/03/06 00:00:00 4:2012/03/07 00:00:00 ", Instants(exdates));
    exdates.clear();
    ASSERT_TRUE(Read(R"({"exdate":",20120305T000000Z"})", &a, &exdates));
    EXPECT_TRUE(exdates.empty());

    // An alarm flag other than "1", or alarms that are not a list, give no alarm.
    for (const char* row :
         {R"({"hasAlarm":"0","__data":[{"minutes":"15"}]})", R"({"hasAlarm":"1","__data":"15"})",
          R"({"hasAlarm":"1","__data":[]})", R"({"hasAlarm":"1","__data":[7]})"}) {
        CalendarRecord n;
        ASSERT_TRUE(Read(row, &n));
        EXPECT_EQ(row == std::string(R"({"hasAlarm":"1","__data":[7]})") ? 0 : -1, n.lReminderMinutes) << row;
    }
}

TEST(ToCalendarEx, OddValuesNeverBreakTheRow) {
    FixedZoneEnv zone(0);
    for (const char* row : {R"({"title":{"a":1},"__id":[1],"dtstart":null,"rrule":5,"exdate":true})",
                            R"({"__id":12,"allDay":true,"calendar_id":2.5,"duration":"P99999999999D"})"}) {
        CalendarRecord r;
        EXPECT_TRUE(Read(row, &r)) << row;
    }
    CalendarRecord r;
    EXPECT_FALSE(Read("[1,2]", &r));
    EXPECT_FALSE(Read("\"x\"", &r));

    RecordList<CalendarRecord> list;
    CalendarExceptionList exceptions;
    EXPECT_EQ(2,
              kxconv::ToCalendarList(Parse(R"({"status":0,"objects":[{"__id":"1"},{"__id":"2","parentID":"1"},
        7,{"__id":"3"}]})"),
                                     &list, nullptr, &exceptions));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(3, list[1]->lPhoneId);
    EXPECT_EQ(1u, exceptions.size());
    EXPECT_EQ(0, kxconv::ToCalendarList(Parse(R"({"status":0,"objects":{}})"), &list, nullptr, nullptr));
}

// --- record to handset row ---

TEST(FromCalendarEx, DatesAlarmsRuleAndId) {
    FixedZoneEnv zone(480, 1);
    CalendarRecord r;
    r.strId = u"42";
    r.dtStart = Date(2012, 1, 17, 8);
    r.dtEnd = Date(2012, 1, 17, 9, 30);
    r.lReminderMinutes = 0;
    r.lRecurType = 2;
    r.lRecurDayMask = 62;
    r.lRecurInterval = 0;
    Json::Value row = Row(r);
    EXPECT_EQ(Parse(R"({"title":"","description":"","eventLocation":"","hasAlarm":"1","allDay":"0",
        "calendar_id":"4","exdate":"","dirty":"1","eventTimezone":"480","dtstart":"1326758400000",
        "dtend":"1326763800000","duration":"P5400S","__data":[{"method":"1","minutes":"0"}],
        "rrule":"FREQ=WEEKLY;WKST=MO;BYDAY=MO,TU,WE,TH,FR","__id":"42"})"),
              row);

    // All-day dates are sent as their midnight read as UTC; a missing end sends no duration; no
    // alarm, no rule and no id are sent as such.
    CalendarRecord a;
    a.bAllDay = 1;
    a.dtStart = Date(2012, 1, 17);
    a.lReminderMinutes = -1;
    EXPECT_EQ(Parse(R"({"title":"","description":"","eventLocation":"","rrule":"","hasAlarm":"0","allDay":"1",
        "calendar_id":"4","exdate":"","dirty":"1","eventTimezone":"480","dtstart":"1326758400000"})"),
              Row(a));
    EXPECT_FALSE(Row(CalendarRecord()).isMember("dtstart")) << "a zero date is no date";
}

TEST(FromCalendarEx, DatesNoRecordCanHoldAreNotSent) {
    FixedZoneEnv zone(480);
    for (double days : {1e300, -1e300, std::nan(""), 2958466.0, -657435.0}) {
        SCOPED_TRACE(days);
        CalendarRecord r;
        r.dtStart.days = days;
        r.dtEnd = Date(2012, 1, 17, 9, 30);
        r.lRecurType = 1;
        r.bRecurHasEnd = 1;
        r.dtRecurEnd.days = days;
        // Both read the start's year or time of day.
        r.AddField(KX_CAL_TIMEZONE, u"GMT:-480;DST:0;STD:0000100500020000;DLT:0000030500030000");
        r.AddField(KX_CAL_EXCEPTIONS, u"<exception><deletion time=\"2012/03/05\"/></exception>");
        Json::Value row = Row(r);
        EXPECT_FALSE(row.isMember("dtstart"));
        EXPECT_FALSE(row.isMember("duration"));
        EXPECT_EQ("1326763800000", row["dtend"].asString());
        EXPECT_EQ("FREQ=DAILY;WKST=SU", row["rrule"].asString());
    }
    // A series flagged as ending but with no end date (zero) runs on, not until 1899.
    CalendarRecord r;
    r.dtStart = Date(2012, 1, 17, 9, 30);
    r.lRecurType = 1;
    r.bRecurHasEnd = 1;
    EXPECT_EQ("FREQ=DAILY;WKST=SU", Row(r)["rrule"].asString());
}

// Every text goes through the cut of sent texts (its cases are in the contact mapping suite).
TEST(FromCalendarEx, TextsAreCutToWholeCharactersWithin5120) {
    FixedZoneEnv zone(0);
    CalendarRecord r;
    r.AddField(KX_CAL_TITLE, std::u16string(6000, u'a'));
    r.AddField(KX_CAL_DESCRIPTION, std::u16string(3000, u'\u4e2d'));
    r.AddField(KX_CAL_LOCATION, u"first");
    r.AddField(KX_CAL_LOCATION, u"Room\r\n1");
    Json::Value row = Row(r);
    EXPECT_EQ(std::string(5120, 'a'), row["title"].asString());
    EXPECT_EQ(Utf8ToWide(row["description"].asString()), std::u16string(1706, u'\u4e2d'));
    EXPECT_EQ("Room\n1", row["eventLocation"].asString()) << "the last item of a type decides";
}

TEST(FromCalendarEx, TimeZoneWithTransitions) {
    FixedZoneEnv zone(-300);
    CalendarRecord r;
    r.dtStart = Date(2012, 6, 1, 9);
    r.AddField(KX_CAL_TIMEZONE, u"GMT:300;DST:60;STD:0000110102000000;DLT:0000030202000000");
    Json::Value row = Row(r);
    // First Sunday of November and second Sunday of March 2012.
    EXPECT_EQ("-300;60;20121104020000;20120311020000", row["eventTimezone"].asString());

    CalendarRecord plain;
    plain.dtStart = Date(2012, 6, 1, 9);
    plain.AddField(KX_CAL_TIMEZONE, u"GMT:-480;DST:0");
    row = Row(plain);
    EXPECT_EQ("480;0;00000000;00000000", row["eventTimezone"].asString());

    plain.bAllDay = 1;
    row = Row(plain);
    EXPECT_EQ("UTC", row["eventTimezone"].asString());
}

TEST(FromCalendarEx, ExdateFromTheExceptionList) {
    FixedZoneEnv zone(480);
    CalendarRecord r;
    r.dtStart = Date(2012, 3, 1, 9);
    r.AddField(KX_CAL_EXCEPTIONS,
               u"<exception><modification datetime=\"2012/03/05 17:00:00\" time=\"2012/03/05\"/>"
               u"<deletion time=\"2012/03/12\"/><deletion time=\"2012/13/12\"/><deletion/>"
               u"<other time=\"2012/03/19\"/></exception>");
    Json::Value row = Row(r);
    EXPECT_EQ("20120305T010000Z,20120312T010000Z", row["exdate"].asString());

    // A long list is read whole: cut to 5120 characters it would no longer be XML.
    std::u16string many = u"<exception>";
    for (int day = 0; day < 300; ++day) {
        platform::CivilTime c;
        Date(2013, 1, 1).AddSeconds(day * 86400LL).ToCivil(&c);
        many += platform::Format(u"<deletion time=\"%04d/%02d/%02d\"/>", c.year, c.month, c.day);
    }
    many += u"</exception>";
    ASSERT_GT(many.size(), 5120u);
    CalendarRecord longList;
    longList.dtStart = Date(2013, 1, 1, 9);
    longList.AddField(KX_CAL_EXCEPTIONS, many);
    row = Row(longList);
    std::string exdate = row["exdate"].asString();
    EXPECT_EQ(300u * 17 - 1, exdate.size());
    EXPECT_EQ("20131027T010000Z", exdate.substr(exdate.size() - 16));

    r.fields.back()->strData = u"<exception";
    row = Row(r);
    EXPECT_EQ("", row["exdate"].asString());
}

// --- exception list to exception rows ---

const char16_t kExceptionText[] =
    u"<exception><modification datetime=\"2012/03/05 17:00:00\" "
    u"time=\"2012/03/05\"><subject>SABpAA==</subject>"
    u"<allday>0</allday><start>2012/03/05 17:00:00</start><end>2012/03/05 18:00:00</end>"
    u"<reminderset>1</reminderset><reminderdelta>10</reminderdelta></modification>"
    u"<deletion time=\"2012/03/12\"/></exception>";

// The rows sent for the exception list of event 12 (of iCalendar id "g") to a handset of a version.
Json::Value ExceptionRows(const CalendarRecord& parent, std::u16string text, int version = 14) {
    Json::Value rows(Json::arrayValue);
    EXPECT_TRUE(CalConv::FromCalendarException(parent, &text, &rows, u"g", u"12", version));
    return rows;
}

TEST(FromCalendarException, ModificationsBecomeRows) {
    FixedZoneEnv zone(480);
    CalendarRecord parent;
    parent.dtStart = Date(2012, 3, 1, 9);
    parent.AddField(KX_CAL_TIMEZONE, u"GMT:-480;DST:0");
    Json::Value rows = ExceptionRows(parent, kExceptionText);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(Parse(R"({"calendar_id":"4","iCalGUID":"g","title":"Hi","eventLocation":"","description":"",
        "hasAlarm":"1","rrule":"","parentID":"12","dtstart":"1330938000000","dtend":"1330941600000",
        "originalInstanceTime":"1330909200000","__data":[{"method":"1","minutes":"10"}],
        "eventTimezone":"480;0;00000000;00000000"})"),
              rows[0]);

    // Alarm minutes go out as a number whatever the host wrote.
    std::u16string odd = kExceptionText;
    odd.replace(odd.find(u">10<"), 4, u"> 25x<");
    EXPECT_EQ(Parse(R"([{"method":"1","minutes":"25"}])"), ExceptionRows(parent, odd)[0]["__data"]);

    // Older handsets get no instance time.
    EXPECT_FALSE(ExceptionRows(parent, kExceptionText, 13)[0].isMember("originalInstanceTime"));
}

TEST(FromCalendarException, AllDayInstancesAndNothingToSend) {
    FixedZoneEnv zone(480);
    TraceCapture trace;
    CalendarRecord parent;
    parent.bAllDay = 1;
    parent.dtStart = Date(2012, 3, 1);
    parent.AddField(KX_CAL_TIMEZONE, u"GMT:-480;DST:0");
    Json::Value rows = ExceptionRows(
        parent, u"<exception><modification><allday>1</allday><start>2012/03/05 00:00:00</start>"
                u"<end>2012/3/6 00:00:00</end><reminderset>1</reminderset></modification></exception>");
    EXPECT_EQ(Parse(R"({"calendar_id":"4","iCalGUID":"g","title":"","eventLocation":"","description":"",
        "hasAlarm":"0","rrule":"","originalAllDay":"1","parentID":"12","allDay":"1","dtstart":"1330905600000",
        "originalInstanceTime":"1330905600000","eventTimezone":"UTC"})"),
              rows[0]);

    std::u16string deletions = u"<exception><deletion time=\"2012/03/12\"/></exception>";
    std::u16string broken = u"<exception><modification>";
    EXPECT_FALSE(CalConv::FromCalendarException(parent, &deletions, &rows, u"", u"5", 14));
    EXPECT_FALSE(CalConv::FromCalendarException(parent, &broken, &rows, u"", u"5", 14));
    EXPECT_FALSE(CalConv::FromCalendarException(parent, nullptr, &rows, u"", u"5", 14));
    EXPECT_EQ(1u, rows.size());
    EXPECT_TRUE(Traced(trace, "exception list is not XML"));
    EXPECT_TRUE(Traced(trace, "no exception list"));
}

// --- merge ---

TEST(MergeCalendarExceptions, ModificationReplacesThatDaysRemoval) {
    FixedZoneEnv zone(480);
    TraceCapture trace;
    RecordList<CalendarRecord> records;
    for (int id : {5, 6, 5}) {
        CalendarRecord* r = new CalendarRecord();
        r->lPhoneId = id;
        records.Add(r);
    }
    CalendarExceptionList exceptions = {
        {5, "<modification datetime=\"2012/03/05 17:00:00\"><allday>0</allday></modification>"},
        {5, "<modification datetime=\"bad\"/>"},
        {5, "<modification"},
        {99, "<modification datetime=\"2012/03/05 17:00:00\"/>"}};
    CalendarExdateList exdates = {{5, "2012/03/05 09:00:00"},
                                  {6, "2012/04/01 10:00:00"},
                                  {5, "2012/03/12 09:00:00"},
                                  {5, "2012/03/05 21:00:00"},
                                  {98, "2012/03/05 09:00:00"}};
    CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
    EXPECT_EQ(
        u"<exception><modification datetime=\"2012/03/05 17:00:00\" time=\"2012/03/05\"><allday>0</allday>"
        u"</modification><modification datetime=\"bad\"/><deletion time=\"2012/03/12\"/></exception>",
        FieldText(*records[0], KX_CAL_EXCEPTIONS));
    EXPECT_EQ(u"<exception><deletion time=\"2012/04/01\"/></exception>",
              FieldText(*records[1], KX_CAL_EXCEPTIONS));
    EXPECT_TRUE(records[2]->fields.empty()) << "only the first record of an id takes the list";
    EXPECT_TRUE(Traced(trace, "no event 99 for its exceptions"));
    EXPECT_TRUE(Traced(trace, "no event 98 for its exceptions"));
    EXPECT_TRUE(Traced(trace, "exception element is not XML"));
}

TEST(MergeCalendarExceptions, InstanceMovedToAnotherDayReplacesItsOriginalDay) {
    FixedZoneEnv zone(480);
    RecordList<CalendarRecord> records;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    // Daily at 09:00 local; the 7th (01:00 UTC) moved to the 8th at 10:00 local.
    kxconv::ToCalendarList(Parse(R"({"objects":[{"__id":"12","title":"Daily","dtstart":"1330909200000",
        "duration":"P3600S","rrule":"FREQ=DAILY","exdate":"20120307T010000Z"},
        {"__id":"13","parentID":"12","title":"Moved","dtstart":"1331172000000","dtend":"1331175600000",
        "allDay":"0","originalInstanceTime":"1331082000000","originalAllDay":"0"}]})"),
                           &records, &exdates, &exceptions);
    CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
    ASSERT_EQ(1u, records.size());
    const CalendarRecord& parent = *records[0];
    std::u16string text = FieldText(parent, KX_CAL_EXCEPTIONS);
    EXPECT_EQ(0u,
              text.find(u"<exception><modification datetime=\"2012/03/08 10:00:00\" time=\"2012/03/07\">"))
        << platform::Narrow(text);
    EXPECT_EQ(std::u16string::npos, text.find(u"deletion")) << platform::Narrow(text);

    // Written back, the 8th keeps its own instance and the exception names the 7th.
    Json::Value row = Row(parent);
    EXPECT_EQ("20120307T010000Z", row["exdate"].asString());
    EXPECT_EQ("Moved 1331172000000 1331175600000 1331082000000", When(ExceptionRows(parent, text)[0]));
}

} // namespace
