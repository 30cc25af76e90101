// Small helpers the calendar conversions share: the calendar's "no date" and the narrow (wire)
// texts the rules, JSON rows and exception lists are made of.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>
#include <kxphone/calendar_record.h>

#include "platform/format.h"
#include "platform/oledate.h"
#include "sync/time_conversions.h"
#include "transport/fast_json.h"

namespace CalConv {

// The calendar's "no date".
inline bool IsZeroDate(const platform::OleDate& d) {
    return d.days == 0.0;
}

// A date that is no date: what a conversion starts from when nothing may come of an unreadable
// text.
inline platform::OleDate InvalidDate() {
    platform::OleDate d;
    d.status = platform::OleDate::kInvalid;
    return d;
}

// A valid date within the years 100..9999. Host records may carry any double; only these can be
// turned into seconds and civil times.
inline bool IsUsableDate(const platform::OleDate& d) {
    // Before 1899-12-30 the fraction counts forwards from the day's midnight: 0100-01-01 12:00 is
    // -657434.5. NaN fails both comparisons.
    return d.valid() && d.days > -657435.0 && d.days < 2958466.0;
}

// The trimmed text's leading decimal number, as for every number the handset sends as text.
inline int32_t NarrowToNumber(const std::string& text) {
    return TextToNumber(platform::Widen(text));
}

inline std::string NarrowNumber(int32_t n) {
    return std::to_string(n);
}

// A member of a row as text: strings as they are, numbers and booleans as their text; anything
// else (missing, null, arrays, objects) is empty.
std::string RowText(const Json::Value& row, const char* key);
std::string RowText(const fastjson::Value& row, const char* key);

// ASCII letters upper-cased; the handset's keywords are ASCII.
std::string Upper(std::string text);
// text with every occurrence of what removed.
std::string Without(std::string text, const char* what);

// A millisecond text read into a date; previous when the text is no date.
platform::OleDate ReadMillis(const std::string& text, bool allDay, const platform::OleDate& previous);
std::string Millis(const platform::OleDate& date, bool allDay);

// The row's reminder: one alarm row of its minutes in "__data", and "hasAlarm" set.
void SetAlarm(Json::Value* row, int32_t minutes);

// The date's civil time; all zeros for a date that has none.
platform::CivilTime CivilOf(const platform::OleDate& date);
// "yyyy/mm/dd hh:mm:ss", as exception lists and exdates keep instants.
std::string InstantText(const platform::OleDate& date);
// "yyyy/mm/dd".
std::string DayText(const platform::CivilTime& c);
// "yyyymmddThhmmssZ" of a civil time already in UTC.
std::string UtcStampText(const platform::CivilTime& c);

} // namespace CalConv
