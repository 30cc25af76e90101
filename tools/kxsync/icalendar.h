// Calendar events as iCalendar (RFC 5545), written and parsed with libical. One VEVENT per record:
// UID, DTSTART/DTEND (floating local time, or dates for all-day events), LAST-MODIFIED, SUMMARY,
// DESCRIPTION, LOCATION, RRULE, EXDATE and a VALARM for the reminder; the modified instances of
// the exception list follow as VEVENTs that override one instance each (RECURRENCE-ID). What has
// no iCalendar property (the exception list itself, the time-zone text, the handset's ids and the
// record's other members) goes to X-KX- properties, and so does any member the standard properties
// would not give back exactly, so that EventsFromIcalendar(EventsToIcalendar(r)) gives r again.
// Only pSource, a pointer of the writer's working copies, is not written.
#pragma once

#include <string>
#include <vector>

#include <kxphone/calendar_record.h>

namespace kxsync {

// One VCALENDAR holding every record.
std::string EventsToIcalendar(const std::vector<CalendarRecord>& records);

// A whole .ics file: its VEVENTs (other components are skipped); a VEVENT overriding an instance
// becomes a "modification" in the exception list of its series, as EXDATEs become "deletion"s,
// unless the series holds its list exactly (X-KX-EXCEPTIONS). All or nothing: on any error false,
// *records left empty, *error = "line N: what is wrong"; that includes what libical could not
// parse and rules the record cannot hold (FREQ other than DAILY..YEARLY, BYHOUR, BYSETPOS, ...).
bool EventsFromIcalendar(const std::string& text, std::vector<CalendarRecord>* records, std::string* error);

} // namespace kxsync
