#include "platform/oledate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include <tuple>

namespace {

using platform::CivilTime;
using platform::OleDate;

TEST(OleDate, KnownDays) {
    // Day numbers as the host's date type has them.
    struct Case {
        int y, mo, d, h, mi, s;
        double days;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0.0},     {1899, 12, 31, 0, 0, 0, 1.0},    {1900, 1, 1, 0, 0, 0, 2.0},
        {1970, 1, 1, 0, 0, 0, 25569.0},   {2000, 1, 1, 0, 0, 0, 36526.0},  {2026, 12, 6, 12, 0, 0, 46362.5},
        {1899, 12, 29, 6, 0, 0, -1.25},   {1899, 12, 29, 18, 0, 0, -1.75}, {1800, 1, 1, 0, 0, 0, -36522.0},
        {2000, 2, 29, 6, 0, 0, 36585.25},
    };
    for (const Case& c : cases) {
        OleDate date = OleDate::FromCivil(c.y, c.mo, c.d, c.h, c.mi, c.s);
        ASSERT_TRUE(date.valid()) << c.y << "-" << c.mo << "-" << c.d;
        EXPECT_DOUBLE_EQ(date.days, c.days) << c.y << "-" << c.mo << "-" << c.d;
        CivilTime back;
        ASSERT_TRUE((OleDate{c.days, OleDate::kValid}.ToCivil(&back)));
        EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
                  std::tie(c.y, c.mo, c.d, c.h, c.mi, c.s));
    }
}

TEST(OleDate, InvalidFields) {
    struct Case {
        int y, mo, d, h, mi, s;
    } cases[] = {{2023, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0}, {2024, 13, 1, 0, 0, 0},
                 {2024, 4, 31, 0, 0, 0}, {2024, 1, 1, 24, 0, 0}, {2024, 1, 1, 0, 60, 0},
                 {2024, 1, 1, 0, 0, 60}, {99, 1, 1, 0, 0, 0},    {10000, 1, 1, 0, 0, 0},
                 {2024, 0, 1, 0, 0, 0},  {2024, 1, 0, 0, 0, 0}};
    for (const Case& c : cases)
        EXPECT_FALSE(OleDate::FromCivil(c.y, c.mo, c.d, c.h, c.mi, c.s).valid())
            << c.y << "-" << c.mo << "-" << c.d;
    EXPECT_TRUE(OleDate::FromCivil(2024, 2, 29).valid());
    CivilTime out;
    EXPECT_FALSE((OleDate{1.0, OleDate::kInvalid}).ToCivil(&out));
    // Any double a host hands: no date outside the years 100..9999, and no overflow on the way.
    for (double days : {1e300, -1e300, std::nan(""), 2958466.0, -657435.0}) {
        EXPECT_FALSE((OleDate{days, OleDate::kValid}).ToCivil(&out)) << days;
        EXPECT_LE(std::llabs((OleDate{days, OleDate::kValid}).TotalSeconds()), 2958466LL * 86400) << days;
    }
    for (double days : {-657434.99, 2958465.99})
        EXPECT_TRUE((OleDate{days, OleDate::kValid}).ToCivil(&out)) << days;
}

TEST(OleDate, SecondsArithmeticAcrossDayZero) {
    OleDate midnight = OleDate::FromCivil(1899, 12, 30);
    OleDate before = midnight.AddSeconds(-3600); // 1899-12-29 23:00
    CivilTime c;
    ASSERT_TRUE(before.ToCivil(&c));
    EXPECT_EQ(c.day, 29);
    EXPECT_EQ(c.hour, 23);
    EXPECT_NEAR(before.days, -1.0 - 23.0 / 24.0, 1e-9);
    EXPECT_EQ(before.AddSeconds(3600), midnight);
    EXPECT_EQ(OleDate::FromCivil(2026, 3, 29, 1, 59, 59).AddSeconds(1),
              OleDate::FromCivil(2026, 3, 29, 2, 0, 0));
    EXPECT_EQ(OleDate::FromCivil(2024, 12, 31, 23, 59, 59).AddSeconds(1), OleDate::FromCivil(2025, 1, 1));
    EXPECT_EQ(OleDate::FromCivil(1970, 1, 1).TotalSeconds(), 25569LL * 86400);
}

TEST(OleDate, DayOfWeek) {
    EXPECT_EQ(OleDate::FromCivil(1899, 12, 30).DayOfWeek(), 6); // Saturday
    EXPECT_EQ(OleDate::FromCivil(1899, 12, 24, 13).DayOfWeek(), 0);
    EXPECT_EQ(OleDate::FromCivil(2026, 12, 6, 23, 59, 59).DayOfWeek(), 0);
    EXPECT_EQ(OleDate::FromCivil(2024, 2, 29).DayOfWeek(), 4);
}

} // namespace
