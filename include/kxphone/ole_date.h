// A date as the host keeps it: days since 1899-12-30 00:00:00 as a double (the fraction is the
// time of day, also for negative days), and a validity status. Records carry these, so hosts
// see the type; the conversions are the driver's (kx_platform).
#pragma once

#include <cstdint>

namespace platform {

struct CivilTime;

struct OleDate {
    enum Status : int32_t { kValid = 0, kInvalid = 1, kNull = 2 };

    double days = 0.0;
    int32_t status = kValid;

    bool valid() const { return status == kValid; }

    // Invalid when a field is out of range (year 100..9999).
    static OleDate FromCivil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    // Defined with CivilTime in platform/oledate.h.
    static inline OleDate FromCivil(const CivilTime& c);
    // Rounded to the nearest second. False for an invalid date.
    bool ToCivil(CivilTime* out) const;

    // Whole seconds from 1899-12-30 00:00:00 (rounded), and back.
    int64_t TotalSeconds() const;
    static OleDate FromTotalSeconds(int64_t seconds);

    OleDate AddSeconds(int64_t seconds) const { return FromTotalSeconds(TotalSeconds() + seconds); }
    int DayOfWeek() const; // 0 Sunday .. 6 Saturday

    bool operator==(const OleDate& o) const { return status == o.status && days == o.days; }
    bool operator!=(const OleDate& o) const { return !(*this == o); }
};

} // namespace platform
