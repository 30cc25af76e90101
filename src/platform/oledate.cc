#include "platform/oledate.h"

#include <cmath>

namespace platform {

namespace {
constexpr int64_t kEpochOffsetDays = 25569; // 1899-12-30 .. 1970-01-01
constexpr int64_t kSecondsPerDay = 86400;
// Days of 0100-01-01 and of the day after 9999-12-31, the years a date can name.
constexpr double kFirstDay = -657434, kPastLastDay = 2958466;

bool DayInRange(double days) {
    // Before day zero the day is the integer part: -657434.5 is noon of the first day.
    return days > kFirstDay - 1 && days < kPastLastDay; // false for NaN too
}

bool DaysInRange(int year, int month, int day) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= last;
}
} // namespace

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = y + (*month <= 2);
}

OleDate OleDate::FromCivil(int year, int month, int day, int hour, int minute, int second) {
    OleDate d;
    if (year < 100 || year > 9999 || !DaysInRange(year, month, day) || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        d.status = kInvalid;
        return d;
    }
    int64_t seconds = (DaysFromCivil(year, month, day) + kEpochOffsetDays) * kSecondsPerDay + hour * 3600 +
                      minute * 60 + second;
    return FromTotalSeconds(seconds);
}

int64_t OleDate::TotalSeconds() const {
    // Before 1899-12-30 the integer part counts days backwards while the fraction still runs
    // forwards from midnight.
    // A host can hand any double; outside the years a date can name, the nearest end of them.
    double whole = std::trunc(DayInRange(days) ? days : days < kFirstDay ? kFirstDay : kPastLastDay - 1);
    double fraction = DayInRange(days) ? std::fabs(days - whole) : 0;
    int64_t s = static_cast<int64_t>(whole) * kSecondsPerDay +
                static_cast<int64_t>(std::llround(fraction * kSecondsPerDay));
    return s;
}

OleDate OleDate::FromTotalSeconds(int64_t seconds) {
    OleDate d;
    int64_t day =
        seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    int64_t rest = seconds - day * kSecondsPerDay; // 0 .. 86399
    // Before day zero the integer part names the day and the fraction, taken positive, the time:
    // 1899-12-29 06:00 is -1.25.
    if (day >= 0)
        d.days = static_cast<double>(day) + static_cast<double>(rest) / kSecondsPerDay;
    else
        d.days = static_cast<double>(day) - static_cast<double>(rest) / kSecondsPerDay;
    return d;
}

bool OleDate::ToCivil(CivilTime* out) const {
    if (status != kValid || !DayInRange(days))
        return false;
    int64_t seconds = TotalSeconds();
    int64_t day =
        seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    int64_t rest = seconds - day * kSecondsPerDay;
    int64_t y;
    unsigned m, dd;
    CivilFromDays(day - kEpochOffsetDays, &y, &m, &dd);
    out->year = static_cast<int>(y);
    out->month = static_cast<int>(m);
    out->day = static_cast<int>(dd);
    out->hour = static_cast<int>(rest / 3600);
    out->minute = static_cast<int>(rest / 60 % 60);
    out->second = static_cast<int>(rest % 60);
    out->millisecond = 0;
    return true;
}

int OleDate::DayOfWeek() const {
    int64_t seconds = TotalSeconds();
    int64_t day =
        seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    // 1899-12-30 was a Saturday.
    int64_t w = (day + 6) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

} // namespace platform
