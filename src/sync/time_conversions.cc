#include "sync/time_conversions.h"

#include <climits>
#include <cstdio>

#include "platform/env.h"
#include "platform/format.h"
#include "platform/text.h"

namespace CalConv {

namespace {

constexpr int64_t kUnixEpochSeconds = 25569LL * 86400; // 1899-12-30 .. 1970-01-01
// Seconds from 1899-12-30 of 0100-01-01 and of 9999-12-31 23:59:59, the range of a date.
constexpr int64_t kMinSeconds = -657434LL * 86400;
constexpr int64_t kMaxSeconds = 2958466LL * 86400 - 1;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// Leading optional sign and decimal digits; saturates at the 64-bit range.
int64_t LeadingNumber(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (value > (static_cast<uint64_t>(INT64_MAX) + 1 - digit) / 10)
            overflow = true;
        else
            value = value * 10 + digit;
    }
    if (negative)
        return overflow || value > static_cast<uint64_t>(INT64_MAX) ? INT64_MIN
                                                                    : -static_cast<int64_t>(value);
    return overflow || value > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(value);
}

platform::OleDate Invalid() {
    platform::OleDate d;
    d.status = platform::OleDate::kInvalid;
    return d;
}

platform::OleDate FromUnixSeconds(int64_t seconds) {
    if (seconds > kMaxSeconds - kUnixEpochSeconds || seconds < kMinSeconds - kUnixEpochSeconds)
        return Invalid();
    return platform::OleDate::FromTotalSeconds(kUnixEpochSeconds + seconds);
}

// Shifts by whole minutes (the bias fallback), keeping the result inside the date range.
platform::OleDate ShiftMinutes(const platform::OleDate& date, int minutes) {
    int64_t s = date.TotalSeconds() + static_cast<int64_t>(minutes) * 60;
    if (s < kMinSeconds || s > kMaxSeconds)
        return Invalid();
    return platform::OleDate::FromTotalSeconds(s);
}

typedef bool (platform::Env::*ZoneConversion)(const platform::CivilTime&, platform::CivilTime*);

platform::OleDate Convert(const platform::OleDate& date, ZoneConversion convert, int fallbackSign) {
    platform::CivilTime in;
    if (!date.ToCivil(&in))
        return date;
    platform::Env* env = platform::Env::Current();
    platform::CivilTime out;
    if ((env->*convert)(in, &out)) {
        platform::OleDate result = platform::OleDate::FromCivil(out);
        if (result.valid())
            return result;
    }
    return ShiftMinutes(date, fallbackSign * env->ZoneBiasMinutes());
}

} // namespace

platform::OleDate LocalToUtc(const platform::OleDate& date) {
    return Convert(date, &platform::Env::LocalToUtc, +1);
}

platform::OleDate UtcToLocal(const platform::OleDate& date) {
    return Convert(date, &platform::Env::UtcToLocal, -1);
}

platform::OleDate LocalNow() {
    return UtcToLocal(platform::OleDate::FromCivil(platform::Env::Current()->UtcNow()));
}

std::u16string DateToMillisText(const platform::OleDate& date, bool allDay) {
    platform::OleDate d = allDay ? date : LocalToUtc(date);
    int64_t millis = (d.TotalSeconds() - kUnixEpochSeconds) * 1000;
    return platform::Format(u"%lld", static_cast<long long>(millis));
}

bool MillisTextToDate(const std::u16string& text, bool allDay, platform::OleDate* date) {
    std::u16string t = platform::Trim(text);
    platform::OleDate result;
    if (t.size() < 2 || t.find(u'-', 1) == std::u16string::npos) {
        int64_t n = LeadingNumber(t);
        // Such small values come from handsets that send seconds.
        result = n > 0 && n < 1000 ? FromUnixSeconds(n) : FromUnixSeconds(n / 1000);
    } else {
        if (t.size() < 19)
            return false;
        std::string narrow = platform::Narrow(t);
        int y, mo, d, h, mi, s;
        if (std::sscanf(narrow.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
            return false;
        result = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
    }
    *date = allDay ? result : UtcToLocal(result);
    return true;
}

std::u16string NumberToText(int32_t n) {
    return platform::Format(u"%d", n);
}

int32_t TextToNumber(const std::u16string& text) {
    int64_t n = LeadingNumber(platform::Trim(text));
    if (n > INT32_MAX)
        return INT32_MAX;
    if (n < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(n);
}

std::u16string TransitionToDate(const std::u16string& text) {
    auto part = [&text](size_t pos, size_t len) {
        return pos < text.size() ? TextToNumber(text.substr(pos, len)) : 0;
    };
    int year = part(0, 4);
    int month = part(4, 2);
    int week = part(6, 2);
    std::u16string time = text.size() > 8 ? text.substr(8, 6) : std::u16string();
    int weekday = part(14, 2);

    int day = 0;
    if (month >= 1 && month <= 12 && year >= 100 && year <= 9999) {
        int matches[5] = {};
        int count = 0;
        for (int d = 1; d <= 31 && count < 5; ++d) {
            platform::OleDate date = platform::OleDate::FromCivil(year, month, d);
            if (!date.valid())
                break;
            if (date.DayOfWeek() == weekday)
                matches[count++] = d;
        }
        if (week >= 1 && week <= 4)
            day = week <= count ? matches[week - 1] : 0;
        else if (week == 5 && count > 0)
            day = matches[count - 1];
    }
    if (month < 1 || month > 12 || day == 0)
        year = 0;
    return platform::Format(u"%04d%02d%02d%s", year, month, day, time.c_str());
}

} // namespace CalConv
