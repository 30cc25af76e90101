// An event's time zone between the handset's "eventTimezone" and the host's CalendarField 3023.
#pragma once

#include <string>

#include <kxphone/calendar_record.h>

namespace CalConv {

// The handset's "offset;daylight" (or "UTC") as "GMT:<bias>;DST:<daylight>".
std::u16string TimeZoneField(const std::string& value);

// "GMT:<bias>;DST:<daylight>[;STD:<rule>;DLT:<rule>]" as the handset's "offset;daylight;std;dlt"
// with the transition rules made concrete in the year of the event's start; "UTC" for all-day.
std::string TimeZoneValue(const std::u16string& field, const CalendarRecord& record, bool allDay);

} // namespace CalConv
