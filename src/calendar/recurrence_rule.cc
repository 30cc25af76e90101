#include "calendar/recurrence_rule.h"

#ifndef KX_NO_RECURRENCE_WALK
#include <libical/ical.h>
#endif

#include "calendar/calendar_text.h"
#include "platform/env.h"
#include "platform/format.h"
#include "sync/time_conversions.h"
#include "trace/trace.h"

namespace CalConv {

namespace {

const char16_t kApplyCaller[] = u"CalConv::ApplyRecurrenceRule";

struct DayCode {
    const char* code;
    int32_t bit;
};
const DayCode kDays[7] = {{"SU", 1}, {"MO", 2}, {"TU", 4}, {"WE", 8}, {"TH", 16}, {"FR", 32}, {"SA", 64}};

enum RecurType : int32_t { kNone = 0, kDaily = 1, kWeekly = 2, kMonthly = 3, kYearly = 4 };

// A COUNT is turned into the last instance by walking the series; beyond this many instances
// (a daily series of 27 years) the walk would cost too much and the series is kept open.
constexpr int32_t kMaxCountExpansion = 10000;

// Five or more weekdays written out ("MO,TU,WE,TH,FR" is 14 characters) mark a work-week rule,
// which the host keeps as interval 0.
constexpr size_t kWorkWeekBydayLength = 12;

// A BYDAY with its week ordinal ("-1SU", "2MO,TU"): the ordinal's leading run of digits and
// minus signs, then the days that follow it.
void ReadWeekdayOrdinal(const std::string& byday, CalendarRecord* record) {
    size_t i = 0;
    while (i < byday.size() && ((byday[i] >= '0' && byday[i] <= '9') || byday[i] == '-'))
        ++i;
    record->lRecurWeek = NarrowToNumber(byday.substr(0, i));
    record->lRecurDayMask = TextToDayMask(byday.substr(i));
}

int32_t NumberAt(const std::string& text, size_t pos, size_t length) {
    return pos < text.size() ? NarrowToNumber(text.substr(pos, length)) : 0;
}

// "yyyymmddThhmmss[Z]" read by position as a UTC instant; all-day ends keep their date as the
// handset counts all-day instances at midnight UTC.
platform::OleDate UntilToDate(const std::string& until, bool allDay) {
    int32_t year = NumberAt(until, 0, 4), month = NumberAt(until, 4, 2), day = NumberAt(until, 6, 2);
    if (allDay)
        return platform::OleDate::FromCivil(year, month, day);
    platform::OleDate utc = platform::OleDate::FromCivil(year, month, day, NumberAt(until, 9, 2),
                                                         NumberAt(until, 11, 2), NumberAt(until, 13, 2));
    return UtcToLocal(utc);
}

std::string DateToUntil(const CalendarRecord& record) {
    platform::CivilTime end, start;
    // A zero end is no end date (as a zero start is no start): sent, it would end the series
    // in 1899, before its first instance, and the handset would show none of it.
    if (IsZeroDate(record.dtRecurEnd) || !IsUsableDate(record.dtRecurEnd) || !IsUsableDate(record.dtStart) ||
        !record.dtRecurEnd.ToCivil(&end) || !record.dtStart.ToCivil(&start))
        return std::string();
    platform::OleDate until;
    if (record.bAllDay) {
        // Already the instant the handset compares its midnight-UTC instances with.
        until = platform::OleDate::FromCivil(end.year, end.month, end.day, 23, 59, 59);
    } else {
        until = LocalToUtc(platform::OleDate::FromCivil(end.year, end.month, end.day, start.hour,
                                                        start.minute, start.second));
    }
    platform::CivilTime u;
    if (!until.ToCivil(&u))
        return std::string();
    return UtcStampText(u);
}

bool TimeOfDayBefore(const platform::CivilTime& a, const platform::CivilTime& b) {
    return a.hour != b.hour       ? a.hour < b.hour
           : a.minute != b.minute ? a.minute < b.minute
                                  : a.second < b.second;
}

// The last instance of the record's own series cut after count instances, walked in local wall
// time from dtStart. False when the walk ends before count instances: the pattern cannot be
// walked, or the series runs past the years the walk covers (it is then as good as open).
bool LastInstance(const CalendarRecord& record, int32_t count, platform::OleDate* last) {
    platform::CivilTime start;
    if (!IsUsableDate(record.dtStart) || !record.dtStart.ToCivil(&start))
        return false;
#ifdef KX_NO_RECURRENCE_WALK
    // Built without the recurrence iterator: the series cannot be walked.
    (void)count;
    (void)last;
    return false;
#else
    std::string rule = BuildRecurrenceRule(record) + ";COUNT=" + NarrowNumber(count);
    icalrecurrencetype recur = icalrecurrencetype_from_string(rule.c_str());
    if (recur.freq == ICAL_NO_RECURRENCE) {
        icalmemory_free_ring();
        return false;
    }
    icaltimetype dtstart = icaltime_null_time();
    dtstart.year = start.year;
    dtstart.month = start.month;
    dtstart.day = start.day;
    if (record.bAllDay) {
        dtstart.is_date = 1;
    } else {
        dtstart.hour = start.hour;
        dtstart.minute = start.minute;
        dtstart.second = start.second;
    }
    icalrecur_iterator* it = icalrecur_iterator_new(recur, dtstart);
    if (!it) {
        icalmemory_free_ring();
        return false;
    }
    icaltimetype end = icaltime_null_time();
    int32_t walked = 0;
    for (; walked < count; ++walked) {
        icaltimetype next = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(next))
            break;
        end = next;
    }
    icalrecur_iterator_free(it);
    // libical keeps its temporary texts per thread until told: a host that unloads the driver
    // must not lose them.
    icalmemory_free_ring();
    if (walked < count)
        return false;
    *last = platform::OleDate::FromCivil(end.year, end.month, end.day, end.hour, end.minute, end.second);
    return last->valid();
#endif
}

// A COUNT as the number of instances, 0 when it is no positive decimal, -1 when it is above the
// expansion bound.
int32_t CountValue(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    size_t digits = text.find_first_not_of('0');
    if (digits == std::string::npos)
        return 0;
    if (text.size() - digits > 9)
        return -1;
    int32_t n = static_cast<int32_t>(std::stol(text.substr(digits)));
    return n > kMaxCountExpansion ? -1 : n;
}

// Week 0 stands for days read without a week ("BYDAY=MO"); "0MO" is no weekday the handset
// accepts, so such days go back bare.
std::string WeekAndDays(const CalendarRecord& record) {
    std::string days = DayMaskToText(record.lRecurDayMask);
    return record.lRecurWeek == 0 ? days : NarrowNumber(record.lRecurWeek) + days;
}

} // namespace

RecurrenceParts ParseRecurrenceRule(const std::string& text) {
    RecurrenceParts parts;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(';', begin);
        if (end == std::string::npos)
            end = text.size();
        size_t eq = text.find('=', begin);
        if (eq != std::string::npos && eq < end) {
            std::string name = text.substr(begin, eq - begin);
            std::string value = text.substr(eq + 1, end - eq - 1);
            std::string* slot = name == "FREQ"         ? &parts.freq
                                : name == "INTERVAL"   ? &parts.interval
                                : name == "WKST"       ? &parts.wkst
                                : name == "BYMONTHDAY" ? &parts.bymonthday
                                : name == "BYMONTH"    ? &parts.bymonth
                                : name == "BYDAY"      ? &parts.byday
                                : name == "COUNT"      ? &parts.count
                                : name == "UNTIL"      ? &parts.until
                                                       : nullptr;
            if (slot)
                *slot = std::move(value);
        }
        begin = end + 1;
    }
    return parts;
}

int32_t TextToDayMask(const std::string& text) {
    int32_t mask = 0;
    for (const DayCode& d : kDays)
        if (text.find(d.code) != std::string::npos)
            mask |= d.bit;
    return mask;
}

std::string DayMaskToText(int32_t mask) {
    std::string text;
    for (const DayCode& d : kDays) {
        if (!(mask & d.bit))
            continue;
        if (!text.empty())
            text += ',';
        text += d.code;
    }
    return text;
}

std::string FirstDayOfWeekCode() {
    int weekday = platform::Env::Current()->FirstWeekday(); // 0 Sunday ... 6 Saturday
    return weekday >= 0 && weekday < 7 ? kDays[weekday].code : "SU";
}

void ApplyRecurrenceRule(const std::string& text, CalendarRecord* record) {
    RecurrenceParts parts = ParseRecurrenceRule(text);
    if (parts.freq == "DAILY") {
        record->lRecurType = kDaily;
        record->lRecurInterval = 1;
    } else if (parts.freq == "WEEKLY") {
        record->lRecurType = kWeekly;
        record->lRecurInterval = parts.byday.size() > kWorkWeekBydayLength ? 0 : 1;
        record->lRecurDayMask = TextToDayMask(parts.byday);
    } else if (parts.freq == "MONTHLY") {
        record->lRecurType = kMonthly;
        record->lRecurInterval = 1;
        if (!parts.bymonthday.empty()) {
            record->lRecurByWeekday = 0;
            record->lRecurDay = NarrowToNumber(parts.bymonthday);
        } else if (!parts.byday.empty()) {
            record->lRecurByWeekday = 1;
            ReadWeekdayOrdinal(parts.byday, record);
        }
    } else if (parts.freq == "YEARLY") {
        record->lRecurType = kYearly;
        record->lRecurInterval = 1;
        if (!parts.byday.empty()) {
            record->lRecurByWeekday = 1;
            ReadWeekdayOrdinal(parts.byday, record);
            record->lRecurMonth = NarrowToNumber(parts.bymonth);
        } else {
            record->lRecurByWeekday = 0;
            record->lRecurMonth = NarrowToNumber(parts.bymonth);
            platform::CivilTime start;
            bool hasStart = IsUsableDate(record->dtStart) && record->dtStart.ToCivil(&start);
            if (!parts.bymonthday.empty())
                record->lRecurDay = NarrowToNumber(parts.bymonthday);
            else if (hasStart)
                record->lRecurDay = start.day;
            else
                record->lRecurDay = 1;
            // Without BYMONTH the series keeps the start's month; a month 0 would be written
            // back as a rule that repeats nothing.
            if (parts.bymonth.empty())
                record->lRecurMonth = hasStart ? start.month : 1;
        }
    } else {
        return;
    }
    if (!parts.interval.empty()) {
        // Zero or less repeats nothing, and written back it would silently become every period.
        int32_t interval = NarrowToNumber(parts.interval);
        if (interval > 0)
            record->lRecurInterval = interval;
        else
            KX_TRACE_ERROR(kApplyCaller, platform::Format(u"INTERVAL ignored: %S", parts.interval.c_str()));
    }
    bool untilTaken = false;
    if (!parts.until.empty()) {
        // An end that is no date would be written back as one in 1899 and end the series
        // before it starts; such a rule is kept open-ended.
        platform::OleDate end = InvalidDate();
        if (parts.until.size() >= 8)
            end = UntilToDate(parts.until, record->bAllDay != 0);
        platform::CivilTime endTime, startTime;
        // Written back the end keeps only its date, at the start's time of day; an end earlier
        // in the day than the start already excludes that day's instance.
        if (end.valid() && !record->bAllDay && parts.until.size() >= 15 && end.ToCivil(&endTime) &&
            IsUsableDate(record->dtStart) && record->dtStart.ToCivil(&startTime) &&
            TimeOfDayBefore(endTime, startTime))
            end = end.AddSeconds(-86400);
        if (end.valid()) {
            untilTaken = true;
            record->bRecurHasEnd = 1;
            record->dtRecurEnd = end;
        } else {
            KX_TRACE_ERROR(kApplyCaller, platform::Format(u"UNTIL ignored: %S", parts.until.c_str()));
        }
    }
    if (!parts.count.empty() && !untilTaken) {
        // Kept as the last instance, so that the series written back ends where it did.
        int32_t count = CountValue(parts.count);
        platform::OleDate last;
        if (count == 0) {
            KX_TRACE_ERROR(kApplyCaller, platform::Format(u"COUNT ignored: %S", parts.count.c_str()));
        } else if (count < 0) {
            KX_TRACE_ERROR(kApplyCaller, platform::Format(u"COUNT above %d ignored: %S", kMaxCountExpansion,
                                                          parts.count.c_str()));
        } else if (!LastInstance(*record, count, &last)) {
            KX_TRACE_ERROR(kApplyCaller, platform::Format(u"COUNT not walked: %S", parts.count.c_str()));
        } else {
            record->bRecurHasEnd = 1;
            record->dtRecurEnd = last;
        }
    }
}

std::string BuildRecurrenceRule(const CalendarRecord& record) {
    const char* freq = nullptr;
    std::string byday, bymonthday, bymonth;
    switch (record.lRecurType) {
    case kDaily:
        freq = "DAILY";
        break;
    case kWeekly:
        freq = "WEEKLY";
        byday = DayMaskToText(record.lRecurDayMask);
        break;
    case kMonthly:
        freq = "MONTHLY";
        if (record.lRecurByWeekday == 0)
            bymonthday = NarrowNumber(record.lRecurDay);
        else if (record.lRecurByWeekday == 1)
            byday = WeekAndDays(record);
        break;
    case kYearly: {
        freq = "YEARLY";
        platform::CivilTime start;
        bool hasStart = IsUsableDate(record.dtStart) && record.dtStart.ToCivil(&start);
        // BYMONTH=0 is no rule at all: a day of month takes the start's month, weekdays go
        // without a month (over the whole year).
        if (record.lRecurMonth != 0)
            bymonth = NarrowNumber(record.lRecurMonth);
        if (record.lRecurByWeekday == 0) {
            int32_t day = record.lRecurDay;
            if (day == 0)
                day = hasStart ? start.day : 1;
            bymonthday = NarrowNumber(day);
            if (record.lRecurMonth == 0)
                bymonth = NarrowNumber(hasStart ? start.month : 1);
        } else if (record.lRecurByWeekday == 1) {
            byday = WeekAndDays(record);
        }
        break;
    }
    default:
        return std::string();
    }

    std::string rule = "FREQ=";
    rule += freq;
    if (record.bRecurHasEnd) {
        std::string until = DateToUntil(record);
        if (!until.empty())
            rule += ";UNTIL=" + until;
    }
    if (record.lRecurInterval > 1)
        rule += ";INTERVAL=" + NarrowNumber(record.lRecurInterval);
    rule += ";WKST=" + FirstDayOfWeekCode();
    auto add = [&rule](const char* name, const std::string& value) {
        if (!value.empty())
            rule.append(";").append(name).append("=").append(value);
    };
    switch (record.lRecurType) {
    case kWeekly:
        add("BYDAY", byday);
        break;
    case kMonthly:
        add("BYDAY", byday);
        add("BYMONTHDAY", bymonthday);
        break;
    case kYearly:
        add("BYMONTHDAY", bymonthday);
        add("BYMONTH", bymonth);
        add("BYDAY", byday);
        break;
    default:
        break;
    }
    return rule;
}

} // namespace CalConv
