#include "platform/format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Format;

TEST(Format, Conversions) {
    struct Case {
        std::u16string got;
        std::u16string want;
    } cases[] = {
        {Format(u"%010u_", 42u), u"0000000042_"},
        {Format(u"%010u_", 4294967295u), u"4294967295_"},
        {Format(u"http://%s:%d", u"127.0.0.1", 8182), u"http://127.0.0.1:8182"},
        {Format(u"%s|%S", u"Zo\u00EB \U0001F600", "narrow"), u"Zo\u00EB \U0001F600|narrow"},
        {Format(u"%04d-%02d-%02d %02d:%02d:%02d %03d", 2026, 3, 7, 4, 5, 6, 7), u"2026-03-07 04:05:06 007"},
        {Format(u"%d %i %u", -5, -6, 7u), u"-5 -6 7"},
        {Format(u"[%5d][%-5d][%5s][%-5s]", 42, 42, u"ab", u"ab"), u"[   42][42   ][   ab][ab   ]"},
        {Format(u"[%*d][%.*s]", 4, 7, 2, u"abcdef"), u"[   7][ab]"},
        {Format(u"%x %X %o %#x", 255, 255, 8, 255), u"ff FF 10 0xff"},
        {Format(u"%lld %I64d %ld", -9000000000LL, 9000000000LL, -7L), u"-9000000000 9000000000 -7"},
        {Format(u"%.2f %g", 3.14159, 0.5), u"3.14 0.5"},
        {Format(u"%c%c", 'O', 0x00E9), u"O\u00E9"},
        {Format(u"100%% %s", static_cast<const char16_t*>(nullptr)), u"100% (null)"},
        {Format(u"%q stays"), u"%q stays"},
        {Format(u"ends with %"), u"ends with "},
        {Format(u"%.3s", u"abcdef"), u"abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << platform::Narrow(c.want);
}

TEST(Format, WideFieldsAreNotCut) {
    std::u16string wide = Format(u"%700d|", 1);
    ASSERT_EQ(wide.size(), 701u);
    EXPECT_EQ(wide.substr(694), u"     1|");
    std::u16string text(5000, u'x');
    EXPECT_EQ(Format(u"<%s>", text.c_str()).size(), 5002u);
    EXPECT_EQ(Format(nullptr), u"");
}

TEST(Format, WidenAndNarrow) {
    EXPECT_EQ(platform::Widen("SN-123"), u"SN-123");
    EXPECT_EQ(platform::Narrow(u"SN-123"), "SN-123");
    EXPECT_EQ(platform::Narrow(u"Zo\u00EB"), "Zo?");
}

} // namespace
