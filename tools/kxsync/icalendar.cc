#include "icalendar.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include <libical/ical.h>

#include "codec_text.h"
#include "icalendar_exceptions.h"
#include "icalendar_lines.h"
#include "platform/oledate.h"
#include "platform/utf.h"
#include "sync/time_conversions.h"
#include "vcard_lines.h"

namespace kxsync {

namespace {

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

template <class T> struct Member {
    const char* name;
    T CalendarRecord::*member;
};
// Every member but nVersion (fixed) and pSource (a pointer of the writer's working copies). An
// X-KX- property is written for those the standard properties do not give back exactly.
const Member<int32_t> kInts[] = {
    {"X-KX-STATE", &CalendarRecord::lState},
    {"X-KX-FLAG", &CalendarRecord::lFlag},
    {"X-KX-CALENDAR-ID", &CalendarRecord::nCalendarId},
    {"X-KX-AUX1", &CalendarRecord::lAux1},
    {"X-KX-PHONE-ID", &CalendarRecord::lPhoneId},
    {"X-KX-AUX2", &CalendarRecord::nAux2},
    {"X-KX-AUX3", &CalendarRecord::nAux3},
    {"X-KX-AUX4", &CalendarRecord::nAux4},
    {"X-KX-AUX5", &CalendarRecord::lAux5},
    {"X-KX-RECUR-TYPE", &CalendarRecord::lRecurType},
    {"X-KX-RECUR-DAY", &CalendarRecord::lRecurDay},
    {"X-KX-RECUR-MONTH", &CalendarRecord::lRecurMonth},
    {"X-KX-RECUR-BY-WEEKDAY", &CalendarRecord::lRecurByWeekday},
    {"X-KX-RECUR-WEEK", &CalendarRecord::lRecurWeek},
    {"X-KX-RECUR-DAY-MASK", &CalendarRecord::lRecurDayMask},
    {"X-KX-RECUR-INTERVAL", &CalendarRecord::lRecurInterval},
    {"X-KX-AUX6", &CalendarRecord::lAux6},
    {"X-KX-RECUR-HAS-END", &CalendarRecord::bRecurHasEnd},
    {"X-KX-REMINDER", &CalendarRecord::lReminderMinutes},
    {"X-KX-AUX7", &CalendarRecord::lAux7},
    {"X-KX-AUX8", &CalendarRecord::lAux8},
    {"X-KX-AUX9", &CalendarRecord::lAux9},
    {"X-KX-AUX10", &CalendarRecord::lAux10},
    {"X-KX-ALL-DAY", &CalendarRecord::bAllDay},
    {"X-KX-AUX11", &CalendarRecord::lAux11},
};
const Member<std::u16string> kTexts[] = {
    {"X-KX-HANDSET-ID", &CalendarRecord::strId},
    {"X-KX-AUX-TEXT1", &CalendarRecord::strAux1},
    {"X-KX-AUX-TEXT2", &CalendarRecord::strAux2},
};
const Member<platform::OleDate> kDates[] = {
    {"X-KX-START", &CalendarRecord::dtStart},           {"X-KX-END", &CalendarRecord::dtEnd},
    {"X-KX-MODIFIED", &CalendarRecord::dtLastModified}, {"X-KX-AUX-DATE", &CalendarRecord::dtAux},
    {"X-KX-RECUR-END", &CalendarRecord::dtRecurEnd},
};

// The fields that have a property of their own: standard text ones, and X-KX- ones in ExactText.
struct FieldProperty {
    int32_t code;
    icalproperty_kind kind;
    const char* name;
};
const FieldProperty kFieldProperties[] = {
    {KX_CAL_TITLE, ICAL_SUMMARY_PROPERTY, "SUMMARY"},
    {KX_CAL_DESCRIPTION, ICAL_DESCRIPTION_PROPERTY, "DESCRIPTION"},
    {KX_CAL_LOCATION, ICAL_LOCATION_PROPERTY, "LOCATION"},
    {KX_CAL_ICAL_GUID, ICAL_UID_PROPERTY, "UID"},
    {KX_CAL_TIMEZONE, ICAL_X_PROPERTY, "X-KX-TIMEZONE"},
    {KX_CAL_EXCEPTIONS, ICAL_X_PROPERTY, "X-KX-EXCEPTIONS"},
};

const icalrecurrencetype_frequency kFrequencies[] = {ICAL_DAILY_RECURRENCE, ICAL_WEEKLY_RECURRENCE,
                                                     ICAL_MONTHLY_RECURRENCE, ICAL_YEARLY_RECURRENCE};

icalproperty* XProperty(const char* name, const std::string& value) {
    icalproperty* p = icalproperty_new_x(value.c_str());
    icalproperty_set_x_name(p, name);
    return p;
}

bool HasXParam(icalproperty* p, const char* name) {
    for (icalparameter* q = icalproperty_get_first_parameter(p, ICAL_X_PARAMETER); q;
         q = icalproperty_get_next_parameter(p, ICAL_X_PARAMETER))
        if (std::string(icalparameter_get_xname(q)) == name)
            return true;
    return false;
}

// False for a date libical cannot write (it writes years after 3000 as a null time).
bool ToIcalTime(const platform::OleDate& date, bool isDate, bool utc, icaltimetype* t) {
    platform::CivilTime c;
    if (!(utc ? CalConv::LocalToUtc(date) : date).ToCivil(&c) || c.year > 3000)
        return false;
    *t = icaltime_null_time();
    t->year = c.year;
    t->month = c.month;
    t->day = c.day;
    t->hour = isDate ? 0 : c.hour;
    t->minute = isDate ? 0 : c.minute;
    t->second = isDate ? 0 : c.second;
    t->is_date = isDate;
    t->zone = utc ? icaltimezone_get_utc_timezone() : nullptr;
    return true;
}

// Local time: UTC and zoned times converted, floating times and dates as they are.
platform::OleDate FromIcalTime(icaltimetype t) {
    bool utc = icaltime_is_utc(t);
    if (t.zone && !utc && !t.is_date) {
        t = icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
        utc = true;
    }
    platform::OleDate date = platform::OleDate::FromCivil(t.year, t.month, t.day, t.hour, t.minute, t.second);
    return utc && !t.is_date ? CalConv::UtcToLocal(date) : date;
}

// A date-time property's value with its TZID resolved (in the file's VTIMEZONEs, else libical's
// zones); false with *what for a zone nobody defines or a missing value.
bool PropertyTime(icalproperty* p, icalcomponent* calendar, icaltimetype* t, std::string* what) {
    *t = icalvalue_get_datetime(icalproperty_get_value(p));
    if (icalparameter* tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER)) {
        const char* id = icalparameter_get_tzid(tzid);
        icaltimezone* zone = calendar ? icalcomponent_get_timezone(calendar, id) : nullptr;
        zone = zone ? zone : icaltimezone_get_builtin_timezone(id);
        if (!zone) {
            *what = std::string("time zone \"") + id + "\" is not defined";
            return false;
        }
        t->zone = zone;
    }
    if (icaltime_is_null_time(*t) || !FromIcalTime(*t).valid()) {
        *what = std::string(icalproperty_get_property_name(p)) + " has no date";
        return false;
    }
    return true;
}

// The field as X-KX-FIELD: code, the four numbers, the side text, the text.
std::string ExactField(const CalendarField& f) {
    return std::to_string(f.nType) + ";" + std::to_string(f.nAux1) + ";" + std::to_string(f.nAux2) + ";" +
           std::to_string(f.nAux3) + ";" + std::to_string(f.lAux4) + ";" + ExactText(f.strAux) + ";" +
           ExactText(f.strData);
}

bool FromExactField(const std::string& value, CalendarRecord* r) {
    std::vector<std::string> parts(1);
    for (char c : value) {
        if (c == ';')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    CalendarField f;
    if (parts.size() != 7 || !ParseInt(parts[0], &f.nType) || !ParseInt(parts[1], &f.nAux1) ||
        !ParseInt(parts[2], &f.nAux2) || !ParseInt(parts[3], &f.nAux3) || !ParseInt(parts[4], &f.lAux4))
        return false;
    f.strAux = FromExactText(parts[5]);
    f.strData = FromExactText(parts[6]);
    r->fields.push_back(new CalendarField(f));
    return true;
}

bool SameFields(const CalendarRecord& a, const CalendarRecord& b) {
    std::vector<const CalendarField*> x, y;
    for (const CalendarField* f : a.fields)
        if (f)
            x.push_back(f);
    for (const CalendarField* f : b.fields)
        if (f)
            y.push_back(f);
    if (x.size() != y.size())
        return false;
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i]->nType != y[i]->nType || x[i]->strData != y[i]->strData || x[i]->nAux1 != y[i]->nAux1 ||
            x[i]->nAux2 != y[i]->nAux2 || x[i]->nAux3 != y[i]->nAux3 || x[i]->lAux4 != y[i]->lAux4 ||
            x[i]->strAux != y[i]->strAux)
            return false;
    return true;
}

icalrecurrencetype BuildRule(const CalendarRecord& r) {
    icalrecurrencetype rule;
    icalrecurrencetype_clear(&rule);
    rule.freq = kFrequencies[r.lRecurType - 1];
    rule.interval =
        static_cast<short>(r.lRecurInterval >= 1 && r.lRecurInterval <= 32767 ? r.lRecurInterval : 1);
    bool byWeekday = r.lRecurType == 2 || r.lRecurByWeekday;
    int week = r.lRecurType == 2 || r.lRecurWeek < -5 || r.lRecurWeek > 5 ? 0 : r.lRecurWeek;
    for (int dow = 0, n = 0; dow < 7 && byWeekday; ++dow)
        if (r.lRecurDayMask & (1 << dow))
            rule.by_day[n++] = static_cast<short>((week < 0 ? -1 : 1) * (std::abs(week) * 8 + dow + 1));
    if (r.lRecurType >= 3 && !r.lRecurByWeekday && r.lRecurDay >= 1 && r.lRecurDay <= 31)
        rule.by_month_day[0] = static_cast<short>(r.lRecurDay);
    if (r.lRecurType == 4 && r.lRecurMonth >= 1 && r.lRecurMonth <= 12)
        rule.by_month[0] = static_cast<short>(r.lRecurMonth);
    if (r.bRecurHasEnd && !ToIcalTime(r.dtRecurEnd, r.bAllDay, false, &rule.until))
        rule.until = icaltime_null_time();
    return rule;
}

// The rule into the recurrence members; dtStart and bAllDay are set. start: DTSTART as libical
// has it, for a COUNT's last instance.
bool ReadRule(const icalrecurrencetype& rule, icaltimetype start, CalendarRecord* r, std::string* what) {
    int type = 0;
    for (int i = 0; i < 4; ++i)
        type = rule.freq == kFrequencies[i] ? i + 1 : type;
    const std::pair<const short*, const char*> unkept[] = {
        {rule.by_second, "BYSECOND"},
        {rule.by_minute, "BYMINUTE"},
        {rule.by_hour, "BYHOUR"},
        {rule.by_year_day, "BYYEARDAY"},
        {rule.by_week_no, "BYWEEKNO"},
        {rule.by_set_pos, "BYSETPOS"},
        {rule.by_month_day + 1, "BYMONTHDAY with more than one day"},
        {rule.by_month + 1, "BYMONTH with more than one month"}};
    if (!type) {
        const char* name = icalrecur_freq_to_string(rule.freq);
        *what =
            std::string("FREQ=") + (name ? name : "?") + " cannot be kept (DAILY, WEEKLY, MONTHLY or YEARLY)";
        return false;
    }
    bool days = rule.by_day[0] != ICAL_RECURRENCE_ARRAY_MAX;
    bool monthDay = rule.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX;
    bool month = rule.by_month[0] != ICAL_RECURRENCE_ARRAY_MAX;
    // Every day of some weekdays is a weekly rule on them.
    if (type == 1 && days && rule.interval == 1)
        type = 2;
    const char* combination = type <= 2 && (monthDay || month)
                                  ? "BYMONTHDAY or BYMONTH in a DAILY or WEEKLY rule"
                              : type == 1 && days  ? "BYDAY in a DAILY rule with an INTERVAL"
                              : type == 3 && month ? "BYMONTH in a MONTHLY rule"
                              : days && monthDay   ? "both BYDAY and BYMONTHDAY"
                                                   : nullptr;
    for (const auto& part : unkept)
        combination = part.first[0] != ICAL_RECURRENCE_ARRAY_MAX ? part.second : combination;
    if (combination) {
        *what = std::string("RRULE with ") + combination + " cannot be kept";
        return false;
    }
    platform::CivilTime s;
    r->dtStart.ToCivil(&s);
    r->lRecurType = type;
    r->lRecurInterval = rule.interval;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        int week = icalrecurrencetype_day_position(rule.by_day[i]);
        if (i && week != r->lRecurWeek) {
            *what = "RRULE with BYDAY of different weeks cannot be kept";
            return false;
        }
        r->lRecurWeek = week;
        r->lRecurDayMask |= 1 << (icalrecurrencetype_day_day_of_week(rule.by_day[i]) - 1);
    }
    if (type == 2 && r->lRecurWeek) {
        *what = "a weekly RRULE with numbered BYDAY cannot be kept";
        return false;
    }
    if (type == 2 && !r->lRecurDayMask)
        r->lRecurDayMask = 1 << r->dtStart.DayOfWeek();
    if (type >= 3) {
        r->lRecurByWeekday = r->lRecurDayMask != 0;
        r->lRecurDay = rule.by_month_day[0] != ICAL_RECURRENCE_ARRAY_MAX ? rule.by_month_day[0]
                       : r->lRecurByWeekday                              ? 0
                                                                         : s.day;
    }
    if (type == 4)
        r->lRecurMonth = rule.by_month[0] != ICAL_RECURRENCE_ARRAY_MAX ? rule.by_month[0] : s.month;
    if (!icaltime_is_null_time(rule.until)) {
        r->bRecurHasEnd = 1;
        r->dtRecurEnd = FromIcalTime(rule.until);
        if (!r->dtRecurEnd.valid()) {
            *what = "RRULE has an UNTIL that is no date";
            return false;
        }
    } else if (rule.count > 0) {
        // The handset keeps an end date, not a count: the last instance's.
        icalrecur_iterator* it = icalrecur_iterator_new(rule, start);
        icaltimetype last = icaltime_null_time();
        for (int n = 0; it && n < rule.count && n < 100000; ++n) {
            icaltimetype next = icalrecur_iterator_next(it);
            if (icaltime_is_null_time(next))
                break;
            last = next;
        }
        if (it)
            icalrecur_iterator_free(it);
        if (!icaltime_is_null_time(last)) {
            r->bRecurHasEnd = 1;
            r->dtRecurEnd = FromIcalTime(last);
        }
    }
    return true;
}

// Reads one VEVENT; *line is where the problem is when it returns false.
class EventReader {
public:
    EventReader(icalcomponent* calendar, const IcalOutline* outline)
        : calendar_(calendar), outline_(outline) {}

    // The record of a VEVENT; its UID and EXDATEs beside it (the caller builds the exception list
    // from these and the overriding VEVENTs, unless the record holds one exactly).
    bool Read(icalcomponent* event, CalendarRecord* r, std::string* uid,
              std::vector<platform::OleDate>* exdates, std::string* what, int* line) {
        *r = CalendarRecord();
        uid->clear();
        exdates->clear();
        r->lReminderMinutes = -1;
        ordinals_.clear();
        bool exactFields =
            icalcomponent_get_first_property(event, ICAL_X_PROPERTY) && HasProperty(event, "X-KX-FIELD");
        icalproperty* rule = nullptr;
        icaltimetype start = icaltime_null_time();
        std::vector<icalproperty*> overrides;
        bool haveStart = false, haveEnd = false;
        for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
             p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
            std::string name = icalproperty_get_property_name(p);
            *line = Line(name, ordinals_[name]++);
            icalproperty_kind kind = icalproperty_isa(p);
            icaltimetype t;
            if (kind == ICAL_UID_PROPERTY && uid->empty())
                *uid = icalproperty_get_uid(p);
            if (const FieldProperty* fp = FieldPropertyOf(kind, name)) {
                if (exactFields || (kind == ICAL_UID_PROPERTY && HasXParam(p, "X-KX-GENERATED")))
                    continue;
                const char* value = kind == ICAL_X_PROPERTY ? icalproperty_get_x(p)
                                                            : icalvalue_get_text(icalproperty_get_value(p));
                std::string text = value ? value : "";
                r->fields.push_back(new CalendarField(
                    fp->code, kind == ICAL_X_PROPERTY ? FromExactText(text) : FromLineText(text)));
            } else if (name == "X-KX-FIELD") {
                if (!FromExactField(icalproperty_get_x(p), r))
                    return Fail(what, "X-KX-FIELD must be code;4 numbers;text;text");
            } else if (kind == ICAL_DTSTART_PROPERTY || kind == ICAL_DTEND_PROPERTY ||
                       kind == ICAL_LASTMODIFIED_PROPERTY || kind == ICAL_EXDATE_PROPERTY) {
                if (!PropertyTime(p, calendar_, &t, what))
                    return false;
                if (kind == ICAL_DTSTART_PROPERTY) {
                    start = t;
                    haveStart = true;
                    r->dtStart = FromIcalTime(t);
                    r->bAllDay = t.is_date;
                } else if (kind == ICAL_DTEND_PROPERTY) {
                    haveEnd = true;
                    r->dtEnd = FromIcalTime(t);
                } else if (kind == ICAL_LASTMODIFIED_PROPERTY) {
                    r->dtLastModified = FromIcalTime(t);
                } else {
                    exdates->push_back(FromIcalTime(t));
                }
            } else if (kind == ICAL_RRULE_PROPERTY) {
                rule = p;
                ruleLine_ = *line;
            } else if (name.compare(0, 5, "X-KX-") == 0) {
                overrides.push_back(p);
                overrideLines_[p] = *line;
            }
        }
        if (!haveStart) {
            *line = outline_ ? outline_->begin : 0;
            return Fail(what, "VEVENT without DTSTART");
        }
        if (icalproperty* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
            duration && !haveEnd)
            r->dtEnd = r->dtStart.AddSeconds(icaldurationtype_as_int(icalproperty_get_duration(duration)));
        if (rule) {
            *line = ruleLine_;
            if (!ReadRule(icalproperty_get_rrule(rule), start, r, what))
                return false;
        }
        if (icalcomponent* alarm = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT))
            if (icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY)) {
                icaltriggertype when = icalproperty_get_trigger(trigger);
                r->lReminderMinutes =
                    !icaltime_is_null_time(when.time)
                        ? static_cast<int32_t>(
                              (r->dtStart.TotalSeconds() - FromIcalTime(when.time).TotalSeconds()) / 60)
                        : -icaldurationtype_as_int(when.duration) / 60;
            }
        for (icalproperty* p : overrides)
            if (*line = overrideLines_[p]; !Override(p, r, what))
                return false;
        return true;
    }

private:
    static bool Fail(std::string* what, const std::string& text) {
        *what = text;
        return false;
    }
    static bool HasProperty(icalcomponent* c, const char* name) {
        for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
             p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY))
            if (std::string(icalproperty_get_x_name(p)) == name)
                return true;
        return false;
    }
    static const FieldProperty* FieldPropertyOf(icalproperty_kind kind, const std::string& name) {
        for (const FieldProperty& fp : kFieldProperties)
            if (fp.kind == kind && (kind != ICAL_X_PROPERTY || name == fp.name))
                return &fp;
        return nullptr;
    }
    int Line(const std::string& name, int n) const { return outline_ ? PropertyLine(*outline_, name, n) : 0; }

    bool Override(icalproperty* p, CalendarRecord* r, std::string* what) {
        std::string name = icalproperty_get_x_name(p);
        const char* raw = icalproperty_get_x(p);
        std::string value = raw ? raw : "";
        for (const auto& m : kInts)
            if (name == m.name)
                return ParseInt(value, &(r->*m.member)) || Fail(what, name + " must be a number");
        for (const auto& m : kTexts)
            if (name == m.name) {
                r->*m.member = FromExactText(value);
                return true;
            }
        for (const auto& m : kDates)
            if (name == m.name)
                return FromExactDate(value, &(r->*m.member)) || Fail(what, name + " must be status:days");
        return true; // an X-KX- property of a later version
    }

    icalcomponent* calendar_;
    const IcalOutline* outline_;
    std::map<std::string, int> ordinals_;
    std::map<icalproperty*, int> overrideLines_;
    int ruleLine_ = 0;
};

// Whether libical reads a text back as the standard property holds it: not empty (it refuses an
// empty value) and without blanks at either end (it drops those).
bool LibicalKeeps(const std::u16string& text) {
    std::string line = LineText(text);
    return IsLineText(text) && !line.empty() && line.front() != ' ' && line.back() != ' ';
}

// The UID of a record's VEVENT: its iCalendar identifier, else one made from its handset id or
// place in the file.
std::string EventUid(const CalendarRecord& r, size_t index) {
    const CalendarField* guid = r.FirstField(KX_CAL_ICAL_GUID);
    if (guid && LibicalKeeps(guid->strData))
        return LineText(guid->strData);
    return "kxsync-" + (r.strId.empty() ? std::to_string(index) : "id-" + ExactText(r.strId)) + "@kxphone";
}

// The standard properties of a record.
icalcomponent* StandardEvent(const CalendarRecord& r, size_t index) {
    icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icaltimetype t;
    const CalendarField* guid = r.FirstField(KX_CAL_ICAL_GUID);
    if (!guid || !LibicalKeeps(guid->strData)) {
        // Required; made up, and marked so that it does not come back as a field.
        icalproperty* p = icalproperty_new_uid(EventUid(r, index).c_str());
        icalparameter* mark = icalparameter_new_x("TRUE");
        icalparameter_set_xname(mark, "X-KX-GENERATED");
        icalproperty_add_parameter(p, mark);
        icalcomponent_add_property(event, p);
    }
    // Without METHOD, DTSTAMP is the last change; required, so now when the record has none.
    platform::OleDate zero;
    if (r.dtLastModified == zero || !ToIcalTime(r.dtLastModified, false, true, &t))
        t = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
    icalcomponent_add_property(event, icalproperty_new_dtstamp(t));
    if (ToIcalTime(r.dtStart, r.bAllDay, false, &t) || ToIcalTime(zero, r.bAllDay, false, &t))
        icalcomponent_add_property(event, icalproperty_new_dtstart(t));
    if (r.dtEnd != zero && ToIcalTime(r.dtEnd, r.bAllDay, false, &t))
        icalcomponent_add_property(event, icalproperty_new_dtend(t));
    if (r.dtLastModified != zero && ToIcalTime(r.dtLastModified, false, true, &t))
        icalcomponent_add_property(event, icalproperty_new_lastmodified(t));
    for (const CalendarField* f : r.fields) {
        if (!f)
            continue;
        for (const FieldProperty& fp : kFieldProperties) {
            if (fp.code != f->nType || (fp.kind != ICAL_X_PROPERTY && !LibicalKeeps(f->strData)) ||
                f->strData.empty() || (fp.kind == ICAL_UID_PROPERTY && f != guid))
                continue;
            icalproperty* p = fp.kind == ICAL_X_PROPERTY ? XProperty(fp.name, ExactText(f->strData))
                                                         : icalproperty_new(fp.kind);
            if (fp.kind != ICAL_X_PROPERTY)
                icalproperty_set_value(p, icalvalue_new_text(LineText(f->strData).c_str()));
            icalcomponent_add_property(event, p);
        }
    }
    if (r.lRecurType >= 1 && r.lRecurType <= 4) {
        icalcomponent_add_property(event, icalproperty_new_rrule(BuildRule(r)));
        if (const CalendarField* exceptions = r.LastField(KX_CAL_EXCEPTIONS)) {
            platform::CivilTime s;
            r.dtStart.ToCivil(&s);
            std::vector<platform::OleDate> deletions;
            std::vector<Modification> modifications;
            ReadExceptionList(exceptions->strData, &deletions, &modifications);
            for (const platform::OleDate& day : deletions)
                if (ToIcalTime(day.AddSeconds(r.bAllDay ? 0 : s.hour * 3600 + s.minute * 60 + s.second),
                               r.bAllDay, false, &t))
                    icalcomponent_add_property(event, icalproperty_new_exdate(t));
        }
    }
    if (r.lReminderMinutes != -1 && r.lReminderMinutes > -30000000 && r.lReminderMinutes < 30000000) {
        icalcomponent* alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
        icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
        icalcomponent_add_property(alarm, icalproperty_new_description("Reminder"));
        icaltriggertype trigger;
        trigger.time = icaltime_null_time();
        trigger.duration = icaldurationtype_from_int(-60 * r.lReminderMinutes);
        icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
        icalcomponent_add_component(event, alarm);
    }
    return event;
}

// The standard properties, then X-KX- ones for whatever they do not give back exactly.
icalcomponent* Event(const CalendarRecord& r, size_t index) {
    icalcomponent* event = StandardEvent(r, index);
    CalendarRecord back;
    std::string what, uid;
    std::vector<platform::OleDate> exdates;
    int line;
    EventReader(nullptr, nullptr).Read(event, &back, &uid, &exdates, &what, &line);
    if (!SameFields(r, back))
        for (const CalendarField* f : r.fields)
            if (f)
                icalcomponent_add_property(event, XProperty("X-KX-FIELD", ExactField(*f)));
    for (const auto& m : kInts)
        if (r.*m.member != back.*m.member)
            icalcomponent_add_property(event, XProperty(m.name, std::to_string(r.*m.member)));
    for (const auto& m : kTexts)
        if (r.*m.member != back.*m.member)
            icalcomponent_add_property(event, XProperty(m.name, ExactText(r.*m.member)));
    for (const auto& m : kDates)
        if (r.*m.member != back.*m.member)
            icalcomponent_add_property(event, XProperty(m.name, ExactDate(r.*m.member)));
    return event;
}

// The modified instances of a series as VEVENTs of its UID overriding one instance each. Its
// X-KX-EXCEPTIONS holds them exactly; these are for other programs.
void AddOverrides(const CalendarRecord& r, size_t index, icalcomponent* calendar) {
    const CalendarField* list = r.LastField(KX_CAL_EXCEPTIONS);
    if (!list || r.lRecurType < 1 || r.lRecurType > 4)
        return;
    std::vector<platform::OleDate> deletions;
    std::vector<Modification> modifications;
    ReadExceptionList(list->strData, &deletions, &modifications);
    for (const Modification& m : modifications) {
        icaltimetype id;
        if (!ToIcalTime(m.instance, r.bAllDay, false, &id))
            continue; // an instance libical cannot name
        CalendarRecord instance;
        instance.AddField(KX_CAL_ICAL_GUID, platform::Utf8ToUtf16(EventUid(r, index)));
        instance.AddField(KX_CAL_TITLE, m.subject);
        instance.AddField(KX_CAL_LOCATION, m.location);
        instance.AddField(KX_CAL_DESCRIPTION, m.body);
        instance.dtStart = m.start.valid() ? m.start : m.instance;
        instance.dtEnd = m.end.valid() ? m.end : instance.dtStart;
        instance.bAllDay = m.allDay;
        instance.lReminderMinutes = m.reminderMinutes;
        instance.dtLastModified = r.dtLastModified;
        icalcomponent* event = StandardEvent(instance, index);
        icalcomponent_add_property(event, icalproperty_new_recurrenceid(id));
        icalcomponent_add_component(calendar, event);
    }
}

// An overriding VEVENT as a "modification" of the series it belongs to.
bool ReadOverride(icalcomponent* event, icalcomponent* calendar, const IcalOutline* outline, std::string* uid,
                  Modification* m, std::string* what, int* line) {
    CalendarRecord r;
    std::vector<platform::OleDate> exdates;
    if (!EventReader(calendar, outline).Read(event, &r, uid, &exdates, what, line))
        return false;
    icalproperty* id = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
    icaltimetype t;
    *line = outline ? PropertyLine(*outline, "RECURRENCE-ID", 0) : 0;
    if (!PropertyTime(id, calendar, &t, what))
        return false;
    m->instance = FromIcalTime(t);
    const std::pair<std::u16string*, int32_t> texts[] = {
        {&m->subject, KX_CAL_TITLE}, {&m->location, KX_CAL_LOCATION}, {&m->body, KX_CAL_DESCRIPTION}};
    for (const auto& text : texts)
        if (const CalendarField* f = r.LastField(text.second))
            *text.first = f->strData;
    m->allDay = r.bAllDay;
    m->start = r.dtStart;
    m->end = r.dtEnd == platform::OleDate() ? r.dtStart : r.dtEnd;
    m->reminderMinutes = r.lReminderMinutes;
    return true;
}

// The line of the first thing libical could not parse, found in step through its tree and the
// outline: the first property line of the component holding the X-LIC-ERROR that libical does not
// take on its own; the component's BEGIN line when every line parses alone.
bool FindParseError(icalcomponent* c, const IcalOutline& outline, std::string* error) {
    if (icalproperty* lic = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY)) {
        int line = outline.begin;
        for (const auto& [number, content] : outline.properties)
            if (icalproperty* alone = icalproperty_new_from_string(content.c_str()); alone) {
                icalproperty_free(alone);
            } else {
                line = number;
                break;
            }
        *error = "line " + std::to_string(line) + ": " + icalproperty_get_xlicerror(lic);
        return true;
    }
    size_t i = 0;
    for (icalcomponent* child = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); child;
         child = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT), ++i)
        if (i < outline.children.size() && FindParseError(child, outline.children[i], error))
            return true;
    return false;
}

} // namespace

std::string EventsToIcalendar(const std::vector<CalendarRecord>& records) {
    Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//KXPhone//kxsync//EN"));
    for (size_t i = 0; i < records.size(); ++i) {
        icalcomponent_add_component(calendar.get(), Event(records[i], i));
        AddOverrides(records[i], i, calendar.get());
    }
    char* text = icalcomponent_as_ical_string_r(calendar.get());
    std::string written = text ? text : "";
    icalmemory_free_buffer(text);
    // Folded again, as the vCards are: libical gives a line that ends where it folds its CR and LF on
    // two lines ("\r\r\n \n", which no reader takes); unfolded, that is the line's end again.
    std::string unfolded, out;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written.compare(i, 3, "\r\n ") == 0 || written.compare(i, 3, "\r\n\t") == 0)
            i += 2;
        else
            unfolded += written[i];
    }
    for (size_t pos = 0, end; (end = unfolded.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        AppendFolded(unfolded.substr(pos, end - pos), &out);
    return out;
}

bool EventsFromIcalendar(const std::string& text, std::vector<CalendarRecord>* records, std::string* error) {
    records->clear();
    IcalOutline outline;
    if (!OutlineIcalendar(text, &outline, error))
        return false;
    for (const IcalOutline& top : outline.children)
        if (top.name != "VCALENDAR") {
            *error = "line " + std::to_string(top.begin) + ": " + top.name + " outside a VCALENDAR";
            return false;
        }
    if (outline.children.empty()) {
        *error = "line 1: no VCALENDAR";
        return false;
    }
    Component root(icalparser_parse_string(text.c_str()));
    if (!root) {
        *error = "line 1: not iCalendar";
        return false;
    }
    // Several calendars come under an XROOT (the outline's root), one is the root itself.
    bool xroot = icalcomponent_isa(root.get()) == ICAL_XROOT_COMPONENT;
    if (icalcomponent_count_errors(root.get()) > 0) {
        if (!FindParseError(root.get(), xroot ? outline : outline.children[0], error))
            *error = "line 1: libical reports an error but not where";
        return false;
    }
    // Series first; the VEVENTs overriding one of their instances then join them by UID.
    struct Series {
        CalendarRecord record;
        std::string uid;
        std::vector<platform::OleDate> exdates;
        std::vector<Modification> modifications;
    };
    std::vector<Series> series;
    struct Override {
        icalcomponent* event;
        icalcomponent* calendar;
        const IcalOutline* outline;
        int begin;
    };
    std::vector<Override> overrides;
    auto fail = [&](int line, const std::string& what) {
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    auto each = [&](icalcomponent* calendar, const IcalOutline& calendarOutline) {
        size_t k = 0;
        for (icalcomponent* child = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT); child;
             child = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT), ++k) {
            const IcalOutline* o =
                k < calendarOutline.children.size() ? &calendarOutline.children[k] : nullptr;
            if (icalcomponent_isa(child) != ICAL_VEVENT_COMPONENT)
                continue;
            if (icalcomponent_get_first_property(child, ICAL_RECURRENCEID_PROPERTY)) {
                overrides.push_back({child, calendar, o, calendarOutline.begin});
                continue;
            }
            Series s;
            std::string what;
            int line = 0;
            if (!EventReader(calendar, o).Read(child, &s.record, &s.uid, &s.exdates, &what, &line))
                return fail(line ? line : calendarOutline.begin, what);
            series.push_back(std::move(s));
        }
        return true;
    };
    if (xroot) {
        size_t c = 0;
        for (icalcomponent* calendar =
                 icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT);
             calendar; calendar = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT), ++c)
            if (!each(calendar, outline.children[std::min(c, outline.children.size() - 1)]))
                return false;
    } else if (!each(root.get(), outline.children[0])) {
        return false;
    }
    for (const Override& o : overrides) {
        std::string uid, what;
        Modification m;
        int line = 0;
        if (!ReadOverride(o.event, o.calendar, o.outline, &uid, &m, &what, &line))
            return fail(line ? line : o.begin, what);
        // An instance of no series in the file has nothing to belong to.
        for (Series& s : series)
            if (s.uid == uid) {
                s.modifications.push_back(m);
                break;
            }
    }
    std::vector<CalendarRecord> read;
    for (Series& s : series) {
        // A list held exactly (X-KX-EXCEPTIONS) is the one; EXDATEs and overrides repeat it.
        if (!s.record.LastField(KX_CAL_EXCEPTIONS) && (!s.exdates.empty() || !s.modifications.empty()))
            s.record.AddField(KX_CAL_EXCEPTIONS, ExceptionListText(s.modifications, s.exdates));
        read.push_back(s.record);
    }
    *records = std::move(read);
    return true;
}

} // namespace kxsync
