// The calendar read through the driver's dispatch against an in-process kxphone-sim: requests,
// batches, messages, merged exception lists, the stop, and the meaning of the recurrence fields
// checked against python3-dateutil's expansion of the handset's rules. (Failures and the empty
// calendar: the scripted reader suite and the contact read, which share the batch reader.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>
#include <unistd.h>

#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

#include "calendar/calendar_test_env.h"
#include "driver/app.h"
#include "platform/env.h"
#include "platform/oledate.h"
#include "support/driver_on_sim.h"
#include "support/test_util.h"

namespace {

using kxtest::ParseJson;

class CalendarReadE2E : public kxtest::DriverOnSim {
protected:
    void Start(const kxtest::SimOptions& options = {}) {
        DriverOnSim::Start(options, u"SIMSERIAL");
        theApp.SetEnv(&zone_);
        host_.SetHook([this](uint32_t code, intptr_t value) {
            if (code == 0x80001)
                seen.push_back(*reinterpret_cast<const CalendarRecord*>(value)); // valid only now
        });
    }
    std::vector<size_t> ReadBatches() { return sim_->ObjectCounts("/calendar/do/read"); }
    const CalendarRecord* SeenTitled(const std::u16string& title) const {
        for (const CalendarRecord& s : seen)
            if (const CalendarField* f = s.LastField(KX_CAL_TITLE))
                if (f->strData == title)
                    return &s;
        return nullptr;
    }

    // The PC at UTC+8 without daylight saving (as Asia/Shanghai), week starting on Monday.
    caltest::FixedZoneEnv zone_{480, 1};
    std::vector<CalendarRecord> seen; // copies of the delivered records
};

TEST_F(CalendarReadE2E, SixtyFiveEventsInThreeBatchesWithMergedExceptions) {
    Start({.events = 65});
    EXPECT_EQ(KX_OK, theApp.m_FakePhone.Read(KX_TYPE_CALENDAR, 0));

    std::vector<std::string> paths;
    for (const kxsim::JournalEntry& e : sim_->Requests())
        if (e.path != "/session_ctrl")
            paths.push_back(e.path);
    EXPECT_EQ((std::vector<std::string>{"/calendar/do/set_tracking", "/calendar/do/changelog",
                                        "/calendar/do/read", "/calendar/do/read", "/calendar/do/read"}),
              paths);
    EXPECT_EQ((std::vector<size_t>{30, 30, 5}), ReadBatches());

    // Progress counts within each batch, of all 65 ids.
    std::vector<intptr_t> expected;
    for (int batch : {30, 30, 5})
        for (int i = 0; i < batch; ++i)
            expected.push_back(i * 100 / 65);
    EXPECT_EQ(expected, host_.ValuesOf(KX_PROGRESS_PERCENT));
    EXPECT_EQ(65u, host_.Count(0x80001));
    ASSERT_FALSE(host_.Messages().empty());
    EXPECT_EQ(0x80003u, host_.Messages().back().code);
    ASSERT_EQ(65u, seen.size());

    // Every parent of an exception row in the store arrives with its exception list, one
    // modification per exception row.
    Json::Value rows;
    ASSERT_TRUE(sim_->store().ReadEvents(sim_->store().EventIds(), &rows).ok);
    std::map<std::string, int> modifications;
    for (const Json::Value& row : rows)
        if (row.isMember("parentID"))
            ++modifications[row["parentID"].asString()];
    ASSERT_FALSE(modifications.empty());
    for (const auto& m : modifications) {
        const CalendarRecord* parent = nullptr;
        for (const CalendarRecord& s : seen)
            if (s.strId == std::u16string(m.first.begin(), m.first.end()))
                parent = &s;
        ASSERT_NE(nullptr, parent) << m.first;
        const CalendarField* list = parent->LastField(KX_CAL_EXCEPTIONS);
        ASSERT_NE(nullptr, list) << m.first;
        size_t count = 0;
        for (size_t p = 0; (p = list->strData.find(u"<modification ", p)) != std::u16string::npos; ++p)
            ++count;
        EXPECT_EQ(static_cast<size_t>(m.second), count) << m.first;
    }

    // The daily stand-up: the fourth day moved by half an hour (its removal replaced by the
    // modification), the sixth day cancelled.
    const CalendarRecord* standUp = SeenTitled(u"Stand-up");
    ASSERT_NE(nullptr, standUp);
    ASSERT_NE(nullptr, standUp->LastField(KX_CAL_EXCEPTIONS));
    EXPECT_EQ(
        // The subject is "Stand-up (moved)" in UTF-16LE, base64.
        u"<exception><modification datetime=\"2026/01/08 18:00:00\" time=\"2026/01/08\"><subject>"
        u"UwB0AGEAbgBkAC0AdQBwACAAKABtAG8AdgBlAGQAKQA=</subject><allday>0</allday><start>2026/01/08 "
        u"18:00:00</start><end>2026/01/08 18:15:00</end>"
        u"<reminderset>1</reminderset><reminderdelta>20</reminderdelta></modification>"
        u"<deletion time=\"2026/01/10\"/></exception>",
        standUp->LastField(KX_CAL_EXCEPTIONS)->strData);
    EXPECT_EQ(1, standUp->lRecurType);
    EXPECT_EQ(5, standUp->lReminderMinutes);
    EXPECT_EQ(platform::OleDate::FromCivil(2026, 1, 5, 17, 30), standUp->dtStart);
    EXPECT_EQ(platform::OleDate::FromCivil(2026, 1, 5, 17, 45), standUp->dtEnd);
}

TEST_F(CalendarReadE2E, StopFromAnotherThreadEndsAfterTheBatchWith21) {
    Start({.events = 65});
    // The host presses stop while the first record's progress is on screen; its Stop call runs
    // on a thread of its own.
    std::promise<void> pressed;
    std::thread stopper;
    bool once = false;
    host_.SetHook([&](uint32_t code, intptr_t) {
        if (code != KX_PROGRESS_PERCENT || once)
            return;
        once = true;
        stopper = std::thread([&] {
            theApp.m_FakePhone.Stop(KX_TYPE_CALENDAR, 0);
            pressed.set_value();
        });
        pressed.get_future().wait();
    });
    EXPECT_EQ(KX_STOPPED, theApp.m_FakePhone.Read(KX_TYPE_CALENDAR, 0));
    stopper.join();
    EXPECT_EQ((std::vector<size_t>{30}), ReadBatches());
    EXPECT_EQ(0u, host_.Count(0x80001));
    ASSERT_FALSE(host_.Messages().empty());
    EXPECT_EQ(0x80002u, host_.Messages().back().code);
    EXPECT_EQ(KX_STOPPED, host_.Messages().back().value);
    EXPECT_FALSE(theApp.m_FakePhone.StopFlag) << "the next read starts afresh";
}

// --- the recurrence fields mean what the handset's rule means ---

std::string DayText(int64_t day, const platform::CivilTime& time) {
    int64_t y;
    unsigned m, d;
    platform::CivilFromDays(day, &y, &m, &d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(y), m, d, time.hour,
                  time.minute, time.second);
    return text;
}

int Weekday(int64_t day) { // 0 Sunday; 1970-01-01 was a Thursday
    return static_cast<int>(((day % 7) + 11) % 7);
}

// The days of month y/m that are the week-th of a weekday in mask (negative: from the end).
std::vector<int64_t> NthWeekdays(int64_t y, int m, int week, int mask) {
    std::vector<int64_t> days;
    int64_t first = platform::DaysFromCivil(y, m, 1);
    int64_t next = m == 12 ? platform::DaysFromCivil(y + 1, 1, 1) : platform::DaysFromCivil(y, m + 1, 1);
    for (int wd = 0; wd < 7; ++wd) {
        if (!(mask & (1 << wd)))
            continue;
        std::vector<int64_t> matches;
        for (int64_t d = first; d < next; ++d)
            if (Weekday(d) == wd)
                matches.push_back(d);
        int index = week > 0 ? week - 1 : static_cast<int>(matches.size()) + week;
        if (index >= 0 && index < static_cast<int>(matches.size()))
            days.push_back(matches[static_cast<size_t>(index)]);
    }
    std::sort(days.begin(), days.end());
    return days;
}

// The host's reading of a record's recurrence: local start times of the first instances.
std::vector<std::string> HostInstances(const CalendarRecord& r, size_t limit) {
    platform::CivilTime s, end;
    r.dtStart.ToCivil(&s);
    bool hasEnd = r.bRecurHasEnd && r.dtRecurEnd.ToCivil(&end);
    const int64_t startDay = platform::DaysFromCivil(s.year, s.month, s.day);
    const int interval = r.lRecurInterval > 0 ? r.lRecurInterval : 1;
    std::vector<std::string> out;
    bool done = false;
    auto emit = [&](int64_t day) {
        if (done || day < startDay)
            return;
        std::string text = DayText(day, s);
        if (hasEnd) {
            std::string until = DayText(platform::DaysFromCivil(end.year, end.month, end.day), end);
            if ((r.bAllDay ? text.substr(0, 10) > until.substr(0, 10) : text > until)) {
                done = true;
                return;
            }
        }
        out.push_back(text);
        done = out.size() >= limit;
    };
    for (int k = 0; k < 400 && !done; ++k) {
        switch (r.lRecurType) {
        case 1:
            emit(startDay + static_cast<int64_t>(k) * interval);
            break;
        case 2: {
            int64_t monday = startDay - (Weekday(startDay) + 6) % 7 + 7LL * k * interval;
            for (int d = 0; d < 7; ++d)
                if (r.lRecurDayMask & (1 << Weekday(monday + d)))
                    emit(monday + d);
            break;
        }
        case 3:
        case 4: {
            int64_t months = r.lRecurType == 3 ? (s.month - 1) + static_cast<int64_t>(k) * interval
                                               : 12LL * (s.year + static_cast<int64_t>(k) * interval) +
                                                     (r.lRecurMonth - 1) - 12LL * s.year;
            int64_t y = s.year + months / 12;
            int m = static_cast<int>(months % 12) + 1;
            if (r.lRecurByWeekday == 1) {
                for (int64_t day : NthWeekdays(y, m, r.lRecurWeek, r.lRecurDayMask))
                    emit(day);
            } else if (platform::OleDate::FromCivil(static_cast<int>(y), m, r.lRecurDay).valid()) {
                emit(platform::DaysFromCivil(y, m, r.lRecurDay));
            }
            break;
        }
        default:
            done = true;
        }
    }
    return out;
}

TEST_F(CalendarReadE2E, RecurrenceFieldsAgreeWithDateutil) {
    Start({.events = 80, .seed = 7});
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.Read(KX_TYPE_CALENDAR, KX_READ_NO_TRACKING));
    Json::Value rows;
    ASSERT_TRUE(sim_->store().ReadEvents(sim_->store().EventIds(), &rows).ok);

    // The handset's rules, expanded by dateutil in the PC's zone (all-day events in UTC).
    Json::Value input(Json::arrayValue);
    std::map<std::string, const CalendarRecord*> records;
    for (const Json::Value& row : rows) {
        if (row.isMember("parentID") || row["rrule"].asString().empty())
            continue;
        const CalendarRecord* record = nullptr;
        for (const CalendarRecord& s : seen)
            if (s.lPhoneId == std::stoi(row["__id"].asString()))
                record = &s;
        ASSERT_NE(nullptr, record);
        Json::Value e(Json::objectValue);
        for (const char* member : {"__id", "dtstart", "allDay", "rrule"})
            e[member] = row[member];
        input.append(e);
        records[row["__id"].asString()] = record;
    }
    ASSERT_GE(input.size(), 20u);
    std::set<int32_t> kinds;
    for (const auto& r : records)
        kinds.insert(r.second->lRecurType * 10 + r.second->lRecurByWeekday);
    EXPECT_EQ((std::set<int32_t>{10, 20, 30, 31, 40, 41}), kinds)
        << "daily, weekly, monthly and yearly, both ways";

    kxtest::TempDir dir;
    std::ofstream(dir.path() + "/rules.json") << Json::writeString(Json::StreamWriterBuilder(), input);
    // The first twelve instances of each rule.
    const std::string script =
        "import json,sys\nfrom datetime import datetime,timezone,timedelta\n"
        "from dateutil.rrule import rrulestr\nout={}\nfor e in json.load(open(sys.argv[1])):\n"
        "  z=timezone.utc if e['allDay']=='1' else timezone(timedelta(hours=8))\n"
        "  start=datetime.fromtimestamp(int(e['dtstart'])/1000,tz=z)\n  days=[]\n"
        "  for d in rrulestr(e['rrule'],dtstart=start):\n"
        "    days.append(d.astimezone(z).strftime('%Y-%m-%d %H:%M:%S'))\n"
        "    if len(days)>=12: break\n  out[e['__id']]=days\nprint(json.dumps(out))\n";
    std::ofstream(dir.path() + "/expand.py") << script;
    kxtest::CommandRun run =
        kxtest::RunCommand("python3 " + dir.path() + "/expand.py " + dir.path() + "/rules.json");
    ASSERT_EQ(0, run.exitCode) << run.output;
    Json::Value expanded = ParseJson(run.output);
    ASSERT_EQ(input.size(), expanded.size());

    for (const auto& r : records) {
        std::vector<std::string> expected;
        for (const Json::Value& d : expanded[r.first])
            expected.push_back(d.asString());
        const CalendarField* title = r.second->LastField(KX_CAL_TITLE);
        std::string name = title ? std::string(title->strData.begin(), title->strData.end()) : r.first;
        EXPECT_EQ(expected, HostInstances(*r.second, expected.size())) << r.first << " " << name;
    }
}

} // namespace
