#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/record_verify.h>

#include "platform/format.h"
#include "sample_store_fixture.h"

namespace {

class RecordVerifyTest : public kxtest::DriverDirTest {
protected:
    // Verify through the export; returns the result, and in item the item of fieldType.
    int32_t Check(int32_t type, const void* record, int32_t fieldType = 0, KXRecordVerifyItem* item = nullptr,
                  int32_t options = 0) {
        block_ = {0, record, nullptr, options, 0};
        int32_t result = Verify(type, reinterpret_cast<uintptr_t>(&block_));
        EXPECT_TRUE(host_.Messages().empty());
        for (size_t i = 0; item && block_.results && i < block_.results->size(); ++i)
            if ((*block_.results)[i].fieldType == fieldType)
                *item = (*block_.results)[i];
        return result;
    }
    KXRecordVerifyBlock block_{};
};

platform::OleDate Date(const std::u16string& text) {
    int y, mo, d, h, mi, s;
    std::sscanf(platform::Narrow(text).c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    return platform::OleDate::FromCivil(y, mo, d, h, mi, s);
}

platform::OleDate CalendarRecord::*const kDates[] = {&CalendarRecord::dtStart, &CalendarRecord::dtEnd,
                                                     &CalendarRecord::dtRecurEnd};

TEST_F(RecordVerifyTest, CalendarRulesAtTheirBoundaries) {
    const std::u16string a128(128, u'a'), x32(32, u'x');
    // type, given, written, verdict
    const std::tuple<int32_t, std::u16string, std::u16string, int32_t> cases[] = {
        {KX_VERIFY_START_DATE, u"1989-12-31 23:59:59", u"1989-12-31 23:59:59", KX_FIELD_REFUSED},
        {KX_VERIFY_START_DATE, u"1990-01-01 00:00:00", u"1990-01-01 00:00:00", KX_FIELD_FITS},
        {KX_VERIFY_END_DATE, u"2049-12-31 23:59:59", u"2049-12-31 23:59:59", KX_FIELD_FITS},
        {KX_VERIFY_RECURRENCE_END, u"2050-01-01 00:00:00", u"2050-01-01 00:00:00", KX_FIELD_REFUSED},
        {KX_CAL_TITLE, a128, a128, KX_FIELD_FITS},
        {KX_CAL_TITLE, a128 + u"b", a128, KX_FIELD_CHANGED},
        {KX_CAL_TITLE, a128.substr(1) + u"\U0001F600", a128.substr(1), KX_FIELD_CHANGED}, // pair not split
        {KX_CAL_TITLE, u"", u"NO DATA", KX_FIELD_CHANGED},
        {KX_CAL_TITLE, u"a=b", u"a=b", KX_FIELD_FITS}, // the last character of the set
        {KX_CAL_TITLE, u"a`b", u"a`b", KX_FIELD_REFUSED},
        {KX_CAL_DESCRIPTION, u"a\r\nb", u"a\r\nb", KX_FIELD_REFUSED},
        {KX_CAL_DESCRIPTION, a128 + u"\u00E9", a128, KX_FIELD_CHANGED}, // cut before the set is checked
        {KX_CAL_LOCATION, x32 + u"x", x32, KX_FIELD_CHANGED},
        {3004, x32, x32, KX_FIELD_FITS},
        {3012, u"0123456789*p#", u"0123456789*p#", KX_FIELD_FITS},
        {3012, u"12345678901234567", u"1234567890123456", KX_FIELD_CHANGED},
        {3012, u"12w", u"12w", KX_FIELD_REFUSED},
    };
    for (const auto& [type, given, written, verdict] : cases) {
        CalendarRecord r;
        r.dtStart = Date(u"2020-05-01 10:00:00");
        r.lRecurType = r.bRecurHasEnd = 1;
        if (type >= KX_VERIFY_START_DATE && type <= KX_VERIFY_RECURRENCE_END)
            r.*kDates[type - KX_VERIFY_START_DATE] = Date(given);
        else
            r.AddField(type, given);
        if (type != KX_CAL_TITLE)
            r.AddField(KX_CAL_TITLE, u"Meeting");
        KXRecordVerifyItem item;
        EXPECT_EQ(Check(KX_TYPE_CALENDAR, &r, type, &item), verdict == KX_FIELD_FITS ? 0 : 1) << type;
        EXPECT_EQ(item.text, written) << type;
        EXPECT_EQ(item.verdict, verdict) << platform::Narrow(written);
    }
}

TEST_F(RecordVerifyTest, ContactLimitsOfTheProfile) {
    // type, limit (0: not in the profile)
    const std::pair<int32_t, int32_t> cases[] = {{1, 200},     {1500, 200}, {3002, 1024},
                                                 {3018, 2048}, {4038, 200}, {KX_CF_NICKNAME, 0}};
    for (const auto& [type, max] : cases) {
        ContactRecord r;
        r.AddField(type, std::u16string(max ? max + 1 : 5000, u'\u00E9')); // no set for contacts
        KXRecordVerifyItem item;
        EXPECT_EQ(Check(KX_TYPE_CONTACT, &r, type, &item), max ? 1 : 0) << type; // unlisted types pass
        EXPECT_EQ(item.text, std::u16string(max, u'\u00E9')) << type;
        r.GetField(0)->strData.resize(max);
        EXPECT_EQ(Check(KX_TYPE_CONTACT, &r), 0) << type;
    }
}

TEST_F(RecordVerifyTest, NoBlockNoRecordAndTheListEmptiedEachCall) {
    EXPECT_EQ(Verify(KX_TYPE_CALENDAR, 0), 2);
    CalendarRecord bad, future;
    future.nVersion = 104;
    bad.AddField(KX_CAL_LOCATION, std::u16string(40, u'x'));
    EXPECT_EQ(Check(KX_TYPE_CALENDAR, &bad), 1);
    EXPECT_EQ(block_.results->size(), 3u); // location, no title, no start
    for (const void* record : {static_cast<const void*>(nullptr), static_cast<const void*>(&future)})
        EXPECT_TRUE(Check(KX_TYPE_CALENDAR, record) == 2 && block_.results->empty());
    bad.dtStart = platform::OleDate::FromCivil(2000, 1, 1);
    bad.AddField(KX_CAL_TITLE, u"t");
    EXPECT_EQ(Check(KX_TYPE_CALENDAR, &bad, 0, nullptr, KX_VERIFY_FAILED_ONLY), 1);
    EXPECT_EQ(block_.results->size(), 1u);
}

} // namespace
