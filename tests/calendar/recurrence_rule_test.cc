#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "calendar/recurrence_rule.h"
#include "calendar_test_env.h"
#include "support/paths.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace {

using caltest::Date;
using caltest::FixedZoneEnv;

struct RuleCase {
    const char* rule;
    int eastMinutes;
    bool allDay;
    platform::OleDate start;
    // expected record
    int32_t type, interval, mask, byWeekday, week, day, month, hasEnd;
    platform::OleDate recurEnd;
    // written back on a PC whose week starts on Sunday
    const char* back;
};

const RuleCase kRules[] = {
    {"FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR", 480, false, Date(2012, 3, 5, 9), 2, 0, 62, 0, 0, 0, 0, 0,
     platform::OleDate(), "FREQ=WEEKLY;WKST=SU;BYDAY=MO,TU,WE,TH,FR"},
    {"FREQ=WEEKLY;WKST=MO;INTERVAL=2;BYDAY=MO,WE", 480, false, Date(2012, 3, 5, 9), 2, 2, 10, 0, 0, 0, 0, 0,
     platform::OleDate(), "FREQ=WEEKLY;INTERVAL=2;WKST=SU;BYDAY=MO,WE"},
    {"FREQ=MONTHLY;BYDAY=-1FR", 480, false, Date(2012, 3, 30, 9), 3, 1, 32, 1, -1, 0, 0, 0,
     platform::OleDate(), "FREQ=MONTHLY;WKST=SU;BYDAY=-1FR"},
    {"FREQ=MONTHLY;BYDAY=2MO", 480, false, Date(2012, 3, 12, 9), 3, 1, 2, 1, 2, 0, 0, 0, platform::OleDate(),
     "FREQ=MONTHLY;WKST=SU;BYDAY=2MO"},
    {"FREQ=MONTHLY;BYMONTHDAY=15;BYDAY=MO", 480, false, Date(2012, 3, 15, 9), 3, 1, 0, 0, 0, 15, 0, 0,
     platform::OleDate(), "FREQ=MONTHLY;WKST=SU;BYMONTHDAY=15"},
    {"FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10", 480, false, Date(2012, 10, 28, 2), 4, 1, 1, 1, -1, 0, 10, 0,
     platform::OleDate(), "FREQ=YEARLY;WKST=SU;BYMONTH=10;BYDAY=-1SU"},
    // Without BYMONTH a yearly series stays in the start's month (BYMONTH=0 repeats nothing).
    {"FREQ=YEARLY;WKST=SU", 480, true, Date(2012, 1, 17), 4, 1, 0, 0, 0, 17, 1, 0, platform::OleDate(),
     "FREQ=YEARLY;WKST=SU;BYMONTHDAY=17;BYMONTH=1"},
    // Days without a week go back without one: a week 0 is no valid weekday.
    {"FREQ=MONTHLY;BYDAY=MO,WE", 480, false, Date(2012, 3, 5, 9), 3, 1, 10, 1, 0, 0, 0, 0,
     platform::OleDate(), "FREQ=MONTHLY;WKST=SU;BYDAY=MO,WE"},
    {"FREQ=YEARLY;BYMONTHDAY=17;BYMONTH=1", 480, true, Date(2012, 1, 17), 4, 1, 0, 0, 0, 17, 1, 0,
     platform::OleDate(), "FREQ=YEARLY;WKST=SU;BYMONTHDAY=17;BYMONTH=1"},
    {"FREQ=YEARLY;BYMONTH=3", 480, false, Date(2012, 3, 5, 9), 4, 1, 0, 0, 0, 5, 3, 0, platform::OleDate(),
     "FREQ=YEARLY;WKST=SU;BYMONTHDAY=5;BYMONTH=3"},
    // A count is read as the last instance and goes back as its UNTIL.
    {"FREQ=DAILY;COUNT=10", 480, false, Date(2012, 3, 5, 9), 1, 1, 0, 0, 0, 0, 0, 1, Date(2012, 3, 14, 9),
     "FREQ=DAILY;UNTIL=20120314T010000Z;WKST=SU"},
    {"FREQ=DAILY;UNTIL=20120301T000000Z;COUNT=2", 480, false, Date(2012, 2, 20, 8), 1, 1, 0, 0, 0, 0, 0, 1,
     Date(2012, 3, 1, 8), "FREQ=DAILY;UNTIL=20120301T000000Z;WKST=SU"},
    // An end earlier in the day than the start keeps the day before as the last one.
    {"FREQ=DAILY;UNTIL=20120302T005959Z", -480, false, Date(2012, 2, 20, 18), 1, 1, 0, 0, 0, 0, 0, 1,
     Date(2012, 2, 29, 16, 59, 59), "FREQ=DAILY;UNTIL=20120301T020000Z;WKST=SU"},
    {"FREQ=DAILY;UNTIL=20120301T155959Z", 480, false, Date(2012, 2, 20, 23, 59, 59), 1, 1, 0, 0, 0, 0, 0, 1,
     Date(2012, 3, 1, 23, 59, 59), "FREQ=DAILY;UNTIL=20120301T155959Z;WKST=SU"},
    {"FREQ=DAILY;INTERVAL=3;UNTIL=20120301", 480, false, Date(2012, 2, 20, 10), 1, 3, 0, 0, 0, 0, 0, 1,
     Date(2012, 3, 1, 8), "FREQ=DAILY;UNTIL=20120301T020000Z;INTERVAL=3;WKST=SU"},
    // All-day ends keep their date, east and west of UTC.
    {"FREQ=DAILY;UNTIL=20120301T000000Z", -300, true, Date(2012, 2, 20), 1, 1, 0, 0, 0, 0, 0, 1,
     Date(2012, 3, 1), "FREQ=DAILY;UNTIL=20120301T235959Z;WKST=SU"},
    {"FREQ=WEEKLY;UNTIL=20120301T155959Z;BYDAY=TH", 480, true, Date(2012, 2, 2), 2, 1, 16, 0, 0, 0, 0, 1,
     Date(2012, 3, 1), "FREQ=WEEKLY;UNTIL=20120301T235959Z;WKST=SU;BYDAY=TH"},
    {"FREQ=DAILY;FREQ=WEEKLY;BYDAY=SA", 0, false, Date(2012, 3, 3), 2, 1, 64, 0, 0, 0, 0, 0,
     platform::OleDate(), "FREQ=WEEKLY;WKST=SU;BYDAY=SA"},
    // An interval that repeats nothing, or an end that is no date, is not taken: written back as
    // given they would mean every period, or a series ending in 1899.
    {"FREQ=DAILY;INTERVAL=-5", 480, false, Date(2012, 3, 5, 9), 1, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(),
     "FREQ=DAILY;WKST=SU"},
    {"FREQ=DAILY;INTERVAL=x", 480, false, Date(2012, 3, 5, 9), 1, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(),
     "FREQ=DAILY;WKST=SU"},
    {"FREQ=DAILY;UNTIL=2013", 480, false, Date(2012, 3, 5, 9), 1, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(),
     "FREQ=DAILY;WKST=SU"},
    {"FREQ=DAILY;UNTIL=20121340T000000Z;COUNT=99999999999", 480, true, Date(2012, 3, 5), 1, 1, 0, 0, 0, 0, 0,
     0, platform::OleDate(), "FREQ=DAILY;WKST=SU"},
    {"FREQ=DAILY;UNTIL=99991231T235959Z", 480, false, Date(2012, 3, 5, 9), 1, 1, 0, 0, 0, 0, 0, 0,
     platform::OleDate(), "FREQ=DAILY;WKST=SU"},
    {"FREQ=HOURLY;INTERVAL=2", 480, false, Date(2012, 3, 5, 9), 0, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(),
     ""},
    {"freq=DAILY", 480, false, Date(2012, 3, 5, 9), 0, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(), ""},
    {"", 480, false, Date(2012, 3, 5, 9), 0, 1, 0, 0, 0, 0, 0, 0, platform::OleDate(), ""},
};

TEST(RecurrenceRule, ReadAndWrittenBack) {
    for (const RuleCase& c : kRules) {
        SCOPED_TRACE(c.rule);
        FixedZoneEnv zone(c.eastMinutes, 0);
        CalendarRecord r;
        r.dtStart = c.start;
        r.bAllDay = c.allDay;
        CalConv::ApplyRecurrenceRule(c.rule, &r);
        EXPECT_EQ(
            (std::vector<int32_t>{c.type, c.interval, c.mask, c.byWeekday, c.week, c.day, c.month, c.hasEnd}),
            (std::vector<int32_t>{r.lRecurType, r.lRecurInterval, r.lRecurDayMask, r.lRecurByWeekday,
                                  r.lRecurWeek, r.lRecurDay, r.lRecurMonth, r.bRecurHasEnd}));
        EXPECT_EQ(c.recurEnd, r.dtRecurEnd);
        EXPECT_EQ(c.back, CalConv::BuildRecurrenceRule(r));
    }
}

// A count that cannot be walked leaves the series open, with a trace line; a large one must not
// stall the read.
TEST(RecurrenceRule, CountWithoutEnd) {
    const struct {
        const char* rule;
        const char* traced;
    } cases[] = {
        {"FREQ=DAILY;COUNT=0", "COUNT ignored: 0"},
        {"FREQ=DAILY;COUNT=1x", "COUNT ignored: 1x"},
        {"FREQ=DAILY;COUNT=10001", "COUNT above 10000 ignored: 10001"},
        {"FREQ=DAILY;COUNT=99999999999999999999", "COUNT above 10000 ignored: 99999999999999999999"},
        {"FREQ=YEARLY;BYMONTHDAY=30;BYMONTH=2;COUNT=3", "COUNT not walked: 3"},
        {"FREQ=YEARLY;INTERVAL=1000;COUNT=3", "COUNT not walked: 3"},
    };
    FixedZoneEnv zone(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        kxtest::TraceCapture trace;
        CalendarRecord r;
        r.dtStart = Date(2012, 3, 5, 9);
        CalConv::ApplyRecurrenceRule(c.rule, &r);
        EXPECT_EQ(0, r.bRecurHasEnd);
        EXPECT_TRUE(caltest::Traced(trace, c.traced)) << trace.Text();
    }
    CalendarRecord r;
    r.dtStart = Date(2012, 3, 5, 9);
    auto begin = std::chrono::steady_clock::now();
    CalConv::ApplyRecurrenceRule("FREQ=DAILY;COUNT=10000", &r);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    EXPECT_EQ(1, r.bRecurHasEnd);
    EXPECT_EQ(Date(2039, 7, 21, 9), r.dtRecurEnd);
}

// The rule read and the rule written back from the record repeat on the same instants, as a
// second implementation expands them from the same start.
TEST(RecurrenceRule, RoundTripKeepsTheInstances) {
    const struct {
        const char* rule;
        int eastMinutes;
        bool allDay;
        platform::OleDate start;
        const char* startText;
    } cases[] = {
        {"FREQ=DAILY;COUNT=10", 480, false, Date(2012, 3, 5, 9), "20120305T090000"},
        {"FREQ=WEEKLY;WKST=SU;COUNT=8;BYDAY=MO,WE,FR", -300, false, Date(2012, 3, 5, 21, 30),
         "20120305T213000"},
        {"FREQ=WEEKLY;INTERVAL=2;COUNT=6;BYDAY=MO,TH", 60, false, Date(2012, 3, 5, 9), "20120305T090000"},
        {"FREQ=MONTHLY;COUNT=6;BYDAY=-1FR", 60, false, Date(2012, 3, 30, 9), "20120330T090000"},
        {"FREQ=MONTHLY;COUNT=5;BYDAY=2MO", 480, false, Date(2012, 3, 12, 9), "20120312T090000"},
        {"FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10", 480, false, Date(2012, 10, 28, 2), "20121028T020000"},
        {"FREQ=YEARLY;COUNT=4;BYDAY=-1SU;BYMONTH=10", 480, false, Date(2012, 10, 28, 2), "20121028T020000"},
        {"FREQ=YEARLY;WKST=SU", 480, true, Date(2012, 1, 17), "20120117T000000"},
        {"FREQ=WEEKLY;COUNT=5;BYDAY=TU,TH", -300, true, Date(2012, 1, 17), "20120117T000000"},
        {"FREQ=DAILY;UNTIL=20120301T155959Z", 480, false, Date(2012, 2, 20, 23, 59, 59), "20120220T235959"},
        {"FREQ=DAILY;UNTIL=20120302T005959Z", -480, false, Date(2012, 2, 20, 18), "20120220T180000"},
    };
    std::string input = testing::TempDir() + "rrule_roundtrip_cases.txt";
    {
        std::ofstream out(input);
        for (const auto& c : cases) {
            FixedZoneEnv zone(c.eastMinutes, 0);
            CalendarRecord r;
            r.dtStart = c.start;
            r.bAllDay = c.allDay;
            CalConv::ApplyRecurrenceRule(c.rule, &r);
            // The handset counts all-day instances at midnight UTC.
            out << c.startText << '\t' << (c.allDay ? 0 : c.eastMinutes) << '\t' << c.rule << '\t'
                << CalConv::BuildRecurrenceRule(r) << '\n';
        }
    }
    kxtest::CommandRun run = kxtest::RunCommand("'" + kxtest::SourceDir() +
                                                "/tests/calendar/rrule_roundtrip.py' '" + input + "' 2>&1");
    EXPECT_EQ(0, run.exitCode) << run.output;
    std::remove(input.c_str());
}

TEST(RecurrenceRule, ParseKeepsTheEightParts) {
    CalConv::RecurrenceParts p =
        CalConv::ParseRecurrenceRule("FREQ=YEARLY;COUNT=4;WKST=MO;X-NAME=1;BYMONTH=2;INTERVAL=2;UNTIL=2013;"
                                     "BYMONTHDAY=29;BYDAY=;BYSETPOS=1");
    EXPECT_EQ((std::vector<std::string>{"YEARLY", "4", "MO", "2", "2", "2013", "29", ""}),
              (std::vector<std::string>{p.freq, p.count, p.wkst, p.bymonth, p.interval, p.until, p.bymonthday,
                                        p.byday}));
}

TEST(RecurrenceRule, DayMasks) {
    EXPECT_EQ("SU,MO,TU,WE,TH,FR,SA", CalConv::DayMaskToText(127));
    EXPECT_EQ("MO,WE", CalConv::DayMaskToText(10));
    EXPECT_EQ("", CalConv::DayMaskToText(0));
    EXPECT_EQ(10, CalConv::TextToDayMask("WE,MO"));
    EXPECT_EQ(2, CalConv::TextToDayMask("1MO"));
    EXPECT_EQ(0, CalConv::TextToDayMask("XX"));
}

TEST(RecurrenceRule, WeekStartComesFromTheUsersSetting) {
    const struct {
        int weekday;
        const char* code;
    } cases[] = {{0, "SU"}, {1, "MO"}, {5, "FR"}, {6, "SA"}, {7, "SU"}, {-1, "SU"}};
    CalendarRecord daily;
    daily.lRecurType = 1;
    for (const auto& c : cases) {
        FixedZoneEnv zone(0, c.weekday);
        EXPECT_EQ(c.code, CalConv::FirstDayOfWeekCode()) << c.weekday;
        EXPECT_EQ(std::string("FREQ=DAILY;WKST=") + c.code, CalConv::BuildRecurrenceRule(daily));
    }
}

TEST(RecurrenceRule, EndNeedsValidDates) {
    FixedZoneEnv zone(0);
    CalendarRecord r;
    r.lRecurType = 1;
    r.bRecurHasEnd = 1;
    r.dtStart = Date(2012, 3, 5, 9);
    r.dtRecurEnd.status = 1; // invalid
    EXPECT_EQ("FREQ=DAILY;WKST=SU", CalConv::BuildRecurrenceRule(r));
    r.dtRecurEnd = Date(2012, 4, 1);
    EXPECT_EQ("FREQ=DAILY;UNTIL=20120401T090000Z;WKST=SU", CalConv::BuildRecurrenceRule(r));
    // A yearly rule without a day takes the start's day, or 1 without a valid start.
    r.lRecurType = 4;
    r.lRecurMonth = 3;
    r.bRecurHasEnd = 0;
    EXPECT_EQ("FREQ=YEARLY;WKST=SU;BYMONTHDAY=5;BYMONTH=3", CalConv::BuildRecurrenceRule(r));
    r.dtStart.status = 1;
    EXPECT_EQ("FREQ=YEARLY;WKST=SU;BYMONTHDAY=1;BYMONTH=3", CalConv::BuildRecurrenceRule(r));
    r.lRecurType = 5;
    EXPECT_EQ("", CalConv::BuildRecurrenceRule(r));
}

} // namespace
