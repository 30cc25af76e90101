// Dates between the host's local wall-clock values and the handset's UTC instants, and the few
// date texts the calendar exchanges. Every conversion uses the process's current time zone
// through the current Env; nothing is stored. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/oledate.h"

namespace CalConv {

// Local wall-clock time of the current zone to UTC, and back. When the zone conversion is
// unavailable, only the standard bias is applied (no daylight saving). Invalid dates pass
// through unchanged.
platform::OleDate LocalToUtc(const platform::OleDate& date);
platform::OleDate UtcToLocal(const platform::OleDate& date);

// The current local time.
platform::OleDate LocalNow();

// Milliseconds since 1970-01-01 00:00:00 UTC as decimal text. Unless allDay the date is local
// time and converted to UTC first; all-day dates are sent as their midnight read as UTC.
std::u16string DateToMillisText(const platform::OleDate& date, bool allDay);

// Reads millisecond text (values 0 < n < 1000 are taken as seconds) or a
// "yyyy-mm-dd hh:mm:ss" text (UTC) into *date, converted to local time unless allDay.
// A date text that is too short or unreadable leaves *date unchanged and gives false. A number
// whose instant lies outside the years 100..9999 gives an invalid date.
bool MillisTextToDate(const std::u16string& text, bool allDay, platform::OleDate* date);

// "%d", and the trimmed text's leading decimal number (0 when it does not start with one;
// clamped to the 32-bit range).
std::u16string NumberToText(int32_t n);
int32_t TextToNumber(const std::u16string& text);

// A zone transition rule "yyyyMMwwhhmmssdd" (year, month, week of month 1-5 with 5 the last,
// time, weekday 0 Sunday ... 6 Saturday) as the concrete date text "yyyyMMdd" + time. The year
// is written as 0 when the month or the day cannot be found.
std::u16string TransitionToDate(const std::u16string& text);

} // namespace CalConv
