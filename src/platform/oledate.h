// OleDate (declared in the public headers, since records carry it) with the civil-time form of
// its constructor, and the day-count arithmetic behind it.
#pragma once

#include <kxphone/ole_date.h>

#include <cstdint>

#include "platform/env.h"

namespace platform {

inline OleDate OleDate::FromCivil(const CivilTime& c) {
    return FromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second);
}

// Days from 1970-01-01 for a proleptic Gregorian civil date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day);

} // namespace platform
