// The texts kxsync prints for records, shared by its commands: dates, times with their zone,
// JSON lines, values cut and escaped for a one-line view, and UTF-16 texts as UTF-8.
#pragma once

#include <cstddef>
#include <string>

#include <json/json.h>
#include <kxphone/kxphone.h>
#include <kxphone/ole_date.h>

namespace kxsync {

// "yyyy-mm-dd hh:mm:ss" (rounded to the second); empty when the date is invalid or beyond the
// years a record can mean.
std::string DateText(const platform::OleDate& date);

// The times of the record form (docs/record-json.md). Records keep local wall-clock times of this
// computer's zone, except the dates of all-day events, which are calendar days without a zone.
//
// A local time with the zone offset this computer has at that time:
// "2026-01-05T09:30:00+01:00" ("+hh:mm:ss" for the rare offsets with seconds, of dates before
// standard zones); "" for an invalid date.
std::string ZonedTimeText(const platform::OleDate& local);
// A day of an all-day event: "2026-01-05", or "2026-01-05T10:00:00" (no zone) when it has a time
// of day; "" for an invalid date.
std::string DayTimeText(const platform::OleDate& date);
// The inverse of both. zoned: the text may carry a zone ("Z", "+hh:mm", "-hh:mm", "+hh:mm:ss"),
// and is then converted to this computer's local time; a text without one is local time as
// written. Not zoned (all-day): a zone is refused. "yyyy-mm-dd" is midnight; "T" or a space may
// separate date and time. "" gives an invalid date. False with *why for any other text.
bool ParseTimeText(const std::string& text, bool zoned, platform::OleDate* out, std::string* why);
// True for the date 0.0 (1899-12-30 00:00:00), which records use for "no date".
bool IsNoDate(const platform::OleDate& date);

// One line of compact JSON, non-ASCII as raw UTF-8.
std::string JsonLineText(const Json::Value& value);
// A JSON text into *value; false (value null) when it is not JSON.
bool ParseJsonText(const std::string& text, Json::Value* value);

// text as it is when it has at most limit bytes; else its longest beginning of whole characters
// within keep bytes, followed by "...".
std::string Shortened(const std::string& text, size_t limit, size_t keep);

// text for a one-line view: a backslash as "\\", line breaks and tabs as "\n", "\r", "\t", other
// control characters (C0, DEL, C1) as "\xNN" or "\u0085"; everything else as it is.
std::string Escaped(const std::string& text);

// UTF-16 to UTF-8 (invalid units become U+FFFD); a null text is empty.
std::string Utf8(const std::u16string& text);
std::string Utf8(const KXChar* text);

} // namespace kxsync
