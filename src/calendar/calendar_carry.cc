#include "calendar/calendar_carry.h"

#include <set>
#include <string>

#include "calendar/calendar_mapping.h"

namespace CalConv {

namespace {

// Columns the mapping decides, or that name the row's place; never carried over.
const char* const kOwned[] = {
    "__id", "_id", "__data", "parentID", "originalInstanceTime", "originalAllDay", "last_update_time"};

bool Owned(const std::string& column) {
    for (const char* owned : kOwned)
        if (column == owned)
            return true;
    return false;
}

bool SamePattern(const CalendarRecord& a, const CalendarRecord& b) {
    return a.lRecurType == b.lRecurType && a.lRecurInterval == b.lRecurInterval &&
           a.lRecurDay == b.lRecurDay && a.lRecurMonth == b.lRecurMonth &&
           a.lRecurByWeekday == b.lRecurByWeekday && a.lRecurWeek == b.lRecurWeek &&
           a.lRecurDayMask == b.lRecurDayMask && a.bRecurHasEnd == b.bRecurHasEnd &&
           (!a.bRecurHasEnd || a.dtRecurEnd == b.dtRecurEnd);
}

// The instants of an "exdate" text, in order.
std::set<std::string> Instants(const Json::Value& exdate) {
    std::set<std::string> instants;
    std::string text = exdate.isString() ? exdate.asString() : std::string();
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            instants.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return instants;
}

std::u16string LastText(const CalendarRecord& r, int32_t type) {
    const CalendarField* f = r.LastField(type);
    return f ? f->strData : std::u16string();
}

} // namespace

void CarryOverEvent(const Json::Value& handset, const CalendarRecord& host, Json::Value* row) {
    if (!handset.isObject() || !row->isObject())
        return;
    for (const std::string& column : handset.getMemberNames())
        if (!Owned(column) && !row->isMember(column))
            (*row)[column] = handset[column];

    // The handset's row as a read gives it to the host: where the host's record still says the
    // same, the handset's own text goes back, with what the record could not hold of it.
    CalendarRecord seen;
    if (!kxconv::ToCalendarEx(handset, &seen, nullptr, nullptr))
        return;
    if (seen.dtStart == host.dtStart && seen.dtEnd == host.dtEnd && seen.bAllDay == host.bAllDay) {
        // The same times: in the handset's own form (an end, a duration, or both).
        for (const char* column : {"dtstart", "dtend", "duration"}) {
            if (handset.isMember(column))
                (*row)[column] = handset[column];
            else
                row->removeMember(column);
        }
    }
    if (Instants(handset["exdate"]) == Instants((*row)["exdate"]) && handset["exdate"].isString())
        (*row)["exdate"] = handset["exdate"];
    if (SamePattern(seen, host) && handset["rrule"].isString())
        (*row)["rrule"] = handset["rrule"];
    if (LastText(seen, KX_CAL_TIMEZONE) == LastText(host, KX_CAL_TIMEZONE) &&
        handset["eventTimezone"].isString())
        (*row)["eventTimezone"] = handset["eventTimezone"];
    if (seen.lReminderMinutes == host.lReminderMinutes && host.lReminderMinutes != -1 &&
        handset["__data"].isArray())
        (*row)["__data"] = handset["__data"];
}

} // namespace CalConv
