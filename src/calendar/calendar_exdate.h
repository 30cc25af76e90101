// Removed instances between the handset's "exdate" (comma-separated UTC instants) and what the
// host keeps of them.
#pragma once

#include <string>

#include "calendar/calendar_mapping.h"

namespace CalConv {

// The removed instances of one row, appended to exdates when it is not null. A part that is no
// UTC instant is skipped and traced: nothing is built from an invalid date.
void ReadExdates(const std::string& text, const CalendarRecord& record, CalendarExdateList* exdates);

// The removed and modified instances of a record's exception list as its handset "exdate" (UTC
// instants at the event's time of day). Empty, traced, when the list is not XML.
std::string ExdateValue(const std::u16string& field, const CalendarRecord& record);

} // namespace CalConv
