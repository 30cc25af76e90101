// "kxsync calendar read": every event of the handset as a readable line or a JSON line, with
// its repeat pattern and the instances that were moved or cancelled. The records arrive after
// the progress (the driver attaches the exception lists first), each valid only while its
// message is handled.
#include "calendar_command.h"

#include <kxphone/calendar_record.h>
#include <kxphone/kxphone.h>

#include <cstdio>

#include <json/json.h>

#include "command_line.h"
#include "commands.h"
#include "record_json.h"
#include "record_text.h"
#include "trace_watch.h"
#include "write_command.h"

namespace kxsync {

namespace {

int Occurrences(const std::string& text, const char* what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

bool Repeats(const CalendarRecord& r) {
    return r.lRecurType >= 1 && r.lRecurType <= 4;
}

// "weekly MO,WE every 2 until 2026-03-31".
std::string RepeatText(const CalendarRecord& r) {
    std::string text = RepeatName(r.lRecurType);
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
        text += " until " + DateText(r.dtRecurEnd).substr(0, 10);
    return text;
}

// The members of a record-form object as "name=value" texts, nested ones by path
// ("repeat.kind=daily", "exceptions.moved[0].start=..."), a list of texts as one pair per text.
void Flatten(const std::string& path, const Json::Value& v, std::string* out) {
    if (v.isObject()) {
        for (const std::string& name : v.getMemberNames())
            Flatten(path.empty() ? name : path + "." + name, v[name], out);
    } else if (v.isArray()) {
        for (Json::ArrayIndex i = 0; i < v.size(); ++i)
            Flatten(v[i].isObject() ? path + "[" + std::to_string(i) + "]" : path, v[i], out);
    } else {
        *out += "  " + path + "=" + Escaped(v.isString() ? v.asString() : JsonLineText(v));
    }
}

// "id  2026-01-05 17:30  Stand-up  (daily; 1 moved, 1 cancelled)"; with all, then every other
// member of the record form.
std::string ReadableLine(const CalendarRecord& r, bool all) {
    std::string when = DateText(r.dtStart);
    when = r.bAllDay ? when.substr(0, 10) + " (all day)" : when.substr(0, 16);
    std::string title = Escaped(FieldText(r, KX_CAL_TITLE));
    std::string line = Escaped(Utf8(r.strId)) + "  " + when + "  " + (title.empty() ? "(no title)" : title);
    std::string notes = Repeats(r) ? RepeatText(r) : std::string();
    std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
    if (!exceptions.empty()) {
        notes += (notes.empty() ? "" : "; ") + std::to_string(Occurrences(exceptions, "<modification")) +
                 " moved, " + std::to_string(Occurrences(exceptions, "<deletion")) + " cancelled";
    }
    if (!notes.empty())
        line += "  (" + notes + ")";
    if (all) {
        Json::Value v = CalendarJsonValue(r);
        for (const char* shown : {"id", "title"})
            v.removeMember(shown);
        Flatten("", v, &line);
    }
    return line;
}

} // namespace

CalendarSummary ReadCalendarEvents(Session& session, bool print, bool json, size_t keepSamples, bool all) {
    CalendarSummary s;
    bool barEnded = false;
    session.window.SetHandler([&](uint32_t code, intptr_t value) {
        if (code != KXMessageCode(KX_TYPE_CALENDAR, KX_EVENT_RECORD_READ))
            return;
        if (!barEnded) {
            session.window.FinishProgress(); // the records come after all progress
            barEnded = true;
        }
        const CalendarRecord& r = *reinterpret_cast<const CalendarRecord*>(value);
        ++s.events;
        s.allDay += r.bAllDay != 0;
        s.recurring += Repeats(r);
        std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
        if (!exceptions.empty()) {
            ++s.withExceptions;
            s.modified += Occurrences(exceptions, "<modification");
            s.removed += Occurrences(exceptions, "<deletion");
        }
        if (s.samples.size() < keepSamples)
            s.samples.push_back(ReadableLine(r, false));
        if (print)
            std::printf("%s\n", (json ? CalendarJsonLine(r) : ReadableLine(r, all)).c_str());
    });
    s.result = TimedRead(session, KX_TYPE_CALENDAR, &s.seconds);
    std::fflush(stdout);
    return s;
}

int CalendarDemoSection(Session& session, const std::string& address, int port) {
    std::printf("\nReading the calendar through the driver...\n");
    std::fflush(stdout);
    OpenSession(session, address, port, /*callbacks=*/false, /*print=*/false);
    CalendarSummary s = ReadCalendarEvents(session, false, false, 3);
    CloseSession(session, /*print=*/false);
    std::printf("Events read:        %d (%d all-day)\n", s.events, s.allDay);
    std::printf("Recurring events:   %d, %d with exceptions\n", s.recurring, s.withExceptions);
    std::printf("Exceptions:         %d moved or changed instances, %d cancelled instances\n", s.modified,
                s.removed);
    std::printf("Time:               %.3f s\n", s.seconds);
    std::printf("Read returned:      %s\n", ResultText(s.result).c_str());
    std::printf("Samples:\n");
    for (const std::string& line : s.samples)
        std::printf("  %s\n", line.c_str());
    return s.result == KX_OK ? 0 : 1;
}

int RunCalendar(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    if (int status = CheckArguments(session))
        return status;
    if (args[0] == "write")
        return RunCalendarWrite(session, args[1]);
    if (args[0] == "verify")
        return RunCalendarVerify(session, args[1]);
    return RunInSession(session, [&] {
        session.window.Clear();
        CalendarSummary s = ReadCalendarEvents(session, true, session.options.json, 0, session.options.all);
        CatchUpTrace(session);
        int dropped = session.watch ? session.watch->InstancesDropped() : 0;
        PrintReadSummary(s.events, "events", s.seconds, dropped, "moved instances without a start", s.result);
        return s.result == KX_OK ? 0 : 1;
    });
}

std::string CalendarReadableLine(const CalendarRecord& r, bool all) {
    return ReadableLine(r, all);
}

} // namespace kxsync
