// "kxsync calendar read": every event of the handset as a readable line or a JSON line, with
// its repeat pattern and the instances that were moved or cancelled.
#include "calendar_command.h"

#include <kxphone/calendar_record.h>
#include <kxphone/kxphone.h>

#include <cstdio>

#include <json/json.h>

namespace kxsync {

namespace {

const char* const kRepeatNames[] = {"", "daily", "weekly", "monthly", "yearly"};
const char* const kDayCodes[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string FieldText(const CalendarRecord& r, int32_t type) {
    const CalendarField* f = r.LastField(type);
    return f ? ToUtf8(f->strData) : std::string();
}

std::string Days(int32_t mask) {
    std::string text;
    for (int i = 0; i < 7; ++i)
        if (mask & (1 << i))
            text += (text.empty() ? "" : ",") + std::string(kDayCodes[i]);
    return text;
}

size_t Occurrences(const std::string& text, const char* what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

bool Repeats(const CalendarRecord& r) {
    return r.lRecurType >= 1 && r.lRecurType <= 4;
}

// "weekly MO,WE every 2 weeks until 2026-03-31".
std::string RepeatText(const CalendarRecord& r) {
    std::string text = kRepeatNames[r.lRecurType];
    if (r.lRecurType == 2) {
        text += " " + Days(r.lRecurDayMask);
    } else if (r.lRecurType == 3 || r.lRecurType == 4) {
        if (r.lRecurType == 4)
            text += " month " + std::to_string(r.lRecurMonth);
        text += r.lRecurByWeekday ? " week " + std::to_string(r.lRecurWeek) + " " + Days(r.lRecurDayMask)
                                  : " day " + std::to_string(r.lRecurDay);
    }
    if (r.lRecurInterval > 1)
        text += " every " + std::to_string(r.lRecurInterval);
    if (r.bRecurHasEnd)
        text += " until " + DateTimeText(r.dtRecurEnd).substr(0, 10);
    return text;
}

std::string JsonLine(const CalendarRecord& r) {
    Json::Value v(Json::objectValue);
    v["id"] = ToUtf8(r.strId);
    v["title"] = FieldText(r, KX_CAL_TITLE);
    v["start"] = DateTimeText(r.dtStart);
    v["end"] = DateTimeText(r.dtEnd);
    v["allDay"] = r.bAllDay != 0;
    v["calendar"] = r.nCalendarId;
    v["modified"] = DateTimeText(r.dtLastModified);
    for (const auto& text :
         {std::make_pair("location", KX_CAL_LOCATION), std::make_pair("description", KX_CAL_DESCRIPTION),
          std::make_pair("timeZone", KX_CAL_TIMEZONE), std::make_pair("iCalGUID", KX_CAL_ICAL_GUID)}) {
        std::string value = FieldText(r, text.second);
        if (!value.empty())
            v[text.first] = value;
    }
    if (r.lReminderMinutes != -1)
        v["reminderMinutes"] = r.lReminderMinutes;
    if (Repeats(r)) {
        Json::Value& rule = v["repeat"] = Json::Value(Json::objectValue);
        rule["kind"] = kRepeatNames[r.lRecurType];
        rule["interval"] = r.lRecurInterval;
        if (r.lRecurDayMask)
            rule["days"] = Days(r.lRecurDayMask);
        if (r.lRecurByWeekday)
            rule["week"] = r.lRecurWeek;
        if (r.lRecurDay)
            rule["day"] = r.lRecurDay;
        if (r.lRecurMonth)
            rule["month"] = r.lRecurMonth;
        if (r.bRecurHasEnd)
            rule["until"] = DateTimeText(r.dtRecurEnd);
    }
    std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
    if (!exceptions.empty())
        v["exceptions"] = exceptions;
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    return Json::writeString(w, v);
}

// "id  2026-01-05 17:30  Stand-up  (daily; 1 moved, 1 cancelled)".
std::string ReadableLine(const CalendarRecord& r) {
    std::string when = DateTimeText(r.dtStart);
    when = r.bAllDay ? when.substr(0, 10) + " (all day)" : when.substr(0, 16);
    std::string title = FieldText(r, KX_CAL_TITLE);
    std::string line = ToUtf8(r.strId) + "  " + when + "  " + (title.empty() ? "(no title)" : title);
    std::string notes;
    if (Repeats(r))
        notes = RepeatText(r);
    std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
    if (!exceptions.empty()) {
        notes += (notes.empty() ? "" : "; ") + std::to_string(Occurrences(exceptions, "<modification")) +
                 " moved, " + std::to_string(Occurrences(exceptions, "<deletion")) + " cancelled";
    }
    if (!notes.empty())
        line += "  (" + notes + ")";
    return line;
}

} // namespace

bool ReadCalendarEvents(const ServiceAddress& address, bool print, bool json, bool progressBar,
                        size_t keepSamples, CalendarSummary* summary) {
    RecordHandler onRecord = [&](const void* record) {
        const CalendarRecord& r = *static_cast<const CalendarRecord*>(record);
        ++summary->events;
        summary->allDay += r.bAllDay != 0;
        summary->recurring += Repeats(r);
        std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
        if (!exceptions.empty()) {
            ++summary->withExceptions;
            summary->modified += static_cast<int>(Occurrences(exceptions, "<modification"));
            summary->removed += static_cast<int>(Occurrences(exceptions, "<deletion"));
        }
        if (summary->samples.size() < keepSamples)
            summary->samples.push_back(ReadableLine(r));
        if (print)
            PrintRecordLine(json ? JsonLine(r) : ReadableLine(r));
    };
    return RunRead(address, KX_TYPE_CALENDAR, 0, progressBar, onRecord, &summary->session);
}

int CalendarDemoSection(const ServiceAddress& address) {
    CalendarSummary s;
    if (!ReadCalendarEvents(address, false, false, true, 3, &s))
        return 1;
    std::printf("\nEvents read:        %d (%d all-day)\n", s.events, s.allDay);
    std::printf("Recurring events:   %d, %d of them with exceptions\n", s.recurring, s.withExceptions);
    std::printf("Exceptions:         %d moved or changed instances, %d cancelled instances\n", s.modified,
                s.removed);
    std::printf("Time:               %.3f s\n", s.session.seconds);
    std::printf("Read returned:      %d (final message 0x%X, value %ld)\n", s.session.result,
                s.session.finalCode, static_cast<long>(s.session.finalValue));
    std::printf("Samples:\n");
    for (const std::string& line : s.samples)
        std::printf("  %s\n", line.c_str());
    return s.session.result == 0 ? 0 : 1;
}

int CalendarCommand(const ServiceAddress& address, const std::vector<std::string>& args) {
    const char* usage = "usage: kxsync --url http://IP:PORT calendar read [--json] [--no-progress]\n";
    if (args.empty() || args[0] != "read") {
        std::fputs(usage, stderr);
        return 2;
    }
    bool json = false, progress = true;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--no-progress") {
            progress = false;
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (address.port <= 0) {
        std::fputs("kxsync: calendar read needs --url\n", stderr);
        return 2;
    }
    CalendarSummary s;
    if (!ReadCalendarEvents(address, true, json, progress, 0, &s))
        return 1;
    std::fflush(stdout);
    if (s.session.result != 0) {
        std::fprintf(stderr, "kxsync: the calendar read failed with %d\n", s.session.result);
        return 1;
    }
    std::fprintf(stderr, "%d events (%d recurring, %d moved and %d cancelled instances) in %.3f s\n",
                 s.events, s.recurring, s.modified, s.removed, s.session.seconds);
    return 0;
}

} // namespace kxsync
