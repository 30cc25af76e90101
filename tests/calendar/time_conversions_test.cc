#include "sync/time_conversions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "calendar_test_env.h"
#include "driver/app.h"
#include "support/test_util.h"

namespace {

using caltest::Date;
using platform::OleDate;

// The zone conversion of the platform is unavailable; only the bias is known.
class NoZoneEnv : public platform::EnvWrapper {
public:
    NoZoneEnv() : EnvWrapper(platform::Env::Default()) {}
    bool LocalToUtc(const platform::CivilTime&, platform::CivilTime*) override { return false; }
    bool UtcToLocal(const platform::CivilTime&, platform::CivilTime*) override { return false; }
};

std::string Text(const OleDate& d) {
    platform::CivilTime c;
    if (!d.ToCivil(&c))
        return "invalid";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buf;
}

// The tz database's own answer through date(1), as a second opinion on the table below.
long long SecondsByDateTool(const char* zone, const char* local) {
    kxtest::CommandRun run =
        kxtest::RunCommand(std::string("TZ=") + zone + " date -d '" + local + "' +%s 2>/dev/null");
    return run.exitCode == 0 ? std::atoll(run.output.c_str()) : -1;
}

struct ZoneCase {
    const char* zone;
    const char* local; // wall-clock time in that zone
    const char* utc;
    long long millis; // epoch milliseconds (values from Python's zoneinfo)
};

const ZoneCase kZoneCases[] = {
    {"Asia/Shanghai", "2012-01-17 08:00:00", "2012-01-17 00:00:00", 1326758400000LL},
    {"America/New_York", "2012-03-10 12:00:00", "2012-03-10 17:00:00", 1331398800000LL}, // before the change
    {"America/New_York", "2012-03-11 12:00:00", "2012-03-11 16:00:00", 1331481600000LL}, // after it
    {"America/New_York", "2012-11-03 23:30:00", "2012-11-04 03:30:00", 1351999800000LL}, // summer time
    {"America/New_York", "2012-11-05 01:00:00", "2012-11-05 06:00:00", 1352095200000LL}, // standard again
    {"UTC", "2012-07-01 00:00:00", "2012-07-01 00:00:00", 1341100800000LL},
};

OleDate Parse(const char* text) {
    int y, mo, d, h, mi, s;
    EXPECT_EQ(6, std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s));
    return Date(y, mo, d, h, mi, s);
}

TEST(TimeConversions, ZonesBothWays) {
    for (const ZoneCase& c : kZoneCases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.local);
        long long byTool = SecondsByDateTool(c.zone, c.local);
        if (byTool >= 0) {
            EXPECT_EQ(c.millis, byTool * 1000);
        }
        kxtest::ScopedEnvVar zone("TZ", c.zone);
        EXPECT_EQ(c.utc, Text(CalConv::LocalToUtc(Parse(c.local))));
        EXPECT_EQ(c.local, Text(CalConv::UtcToLocal(Parse(c.utc))));
        std::u16string millis = CalConv::DateToMillisText(Parse(c.local), false);
        EXPECT_EQ(std::to_string(c.millis), std::string(millis.begin(), millis.end()));
        OleDate back;
        std::string text = std::to_string(c.millis);
        ASSERT_TRUE(CalConv::MillisTextToDate(std::u16string(text.begin(), text.end()), false, &back));
        EXPECT_EQ(c.local, Text(back));
    }
}

TEST(TimeConversions, FallbackAppliesStandardBiasOnly) {
    kxtest::ScopedEnvVar zone("TZ", "America/New_York");
    NoZoneEnv env;
    theApp.SetEnv(&env);
    // A summer date: the real zone would use daylight time (04:00 UTC).
    EXPECT_EQ("2012-07-01 05:00:00", Text(CalConv::LocalToUtc(Date(2012, 7, 1))));
    EXPECT_EQ("2012-06-30 19:00:00", Text(CalConv::UtcToLocal(Date(2012, 7, 1))));
    EXPECT_EQ(u"1341118800000", CalConv::DateToMillisText(Date(2012, 7, 1), false));
    theApp.SetEnv(nullptr);
}

TEST(TimeConversions, MillisTextToDate) {
    struct Case {
        std::u16string text;
        const char* expected; // all-day: no zone shift
    };
    const Case cases[] = {
        {u"", "1970-01-01 00:00:00"},
        {u"500", "1970-01-01 00:08:20"}, // small values are seconds
        {u"999", "1970-01-01 00:16:39"},
        {u"1000", "1970-01-01 00:00:01"},
        {u"1999", "1970-01-01 00:00:01"},
        {u"-86400000", "1969-12-31 00:00:00"},
        {u"-1500", "1969-12-31 23:59:59"}, // toward zero
        {u"  1326758400000 ", "2012-01-17 00:00:00"},
        {u"2012-03-05 10:00:00", "2012-03-05 10:00:00"},
        {u"99999999999999999999", "invalid"}, // beyond the last representable date
        {u"-99999999999999999999", "invalid"},
        {u"2012-13-05 10:00:00", "invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        OleDate d = Date(2000, 1, 1);
        ASSERT_TRUE(CalConv::MillisTextToDate(c.text, true, &d));
        EXPECT_EQ(c.expected, Text(d));
    }
    // Date texts that are too short or unreadable leave the target alone.
    for (const char16_t* text : {u"2012-03-05 10:00", u"2012-03-05 xx:00:00", u"a-b-c-d-e-f-g-h-i-j-k"}) {
        OleDate d = Date(2000, 1, 1);
        EXPECT_FALSE(CalConv::MillisTextToDate(text, true, &d));
        EXPECT_EQ("2000-01-01 00:00:00", Text(d));
    }
    kxtest::ScopedEnvVar zone("TZ", "Asia/Shanghai");
    OleDate d;
    ASSERT_TRUE(CalConv::MillisTextToDate(u"2012-03-05 10:00:00", false, &d));
    EXPECT_EQ("2012-03-05 18:00:00", Text(d));
}

TEST(TimeConversions, DateToMillisText) {
    EXPECT_EQ(u"0", CalConv::DateToMillisText(Date(1970, 1, 1), true));
    EXPECT_EQ(u"-86400000", CalConv::DateToMillisText(Date(1969, 12, 31), true));
    EXPECT_EQ(u"1331424000000", CalConv::DateToMillisText(Date(2012, 3, 11), true));
    kxtest::ScopedEnvVar zone("TZ", "Asia/Shanghai");
    EXPECT_EQ(u"1326758400000", CalConv::DateToMillisText(Date(2012, 1, 17, 8), false));
    EXPECT_EQ(u"1326787200000", CalConv::DateToMillisText(Date(2012, 1, 17, 8), true));
}

TEST(TimeConversions, Numbers) {
    EXPECT_EQ(u"-42", CalConv::NumberToText(-42));
    EXPECT_EQ(u"2147483647", CalConv::NumberToText(2147483647));
    struct Case {
        std::u16string text;
        int32_t value;
    };
    const Case cases[] = {{u" 480", 480},
                          {u"-60;0", -60},
                          {u"x12", 0},
                          {u"", 0},
                          {u"+7", 7},
                          {u"99999999999", 2147483647},
                          {u"-99999999999", -2147483647 - 1}};
    for (const Case& c : cases)
        EXPECT_EQ(c.value, CalConv::TextToNumber(c.text)) << std::string(c.text.begin(), c.text.end());
}

TEST(TimeConversions, TransitionToDate) {
    struct Case {
        std::u16string rule, date;
    };
    const Case cases[] = {
        {u"2012030202000000", u"20120311020000"},                       // second Sunday of March 2012
        {u"2012030502000000", u"20120325020000"},                       // last Sunday
        {u"2012110103000000", u"20121104030000"},                       // first Sunday of November
        {u"2012020500000003", u"20120229000000"},                       // last Wednesday of a leap February
        {u"2012030602000000", u"00000300020000"},                       // no such week
        {u"2012000202000000", u"00000000020000"},                       // no month
        {u"2012130202000000", u"00001300020000"}, {u"20", u"00000000"}, // truncated rule: nothing found
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.date, CalConv::TransitionToDate(c.rule)) << std::string(c.rule.begin(), c.rule.end());
}

} // namespace
