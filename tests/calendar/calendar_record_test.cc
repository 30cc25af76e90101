#include <gtest/gtest.h>

#include <kxphone/calendar_record.h>

#include <tuple>

namespace {

CalendarRecord Filled() {
    CalendarRecord r;
    r.lState = 7;
    r.lFlag = 0x20;
    r.nCalendarId = 3;
    r.strId = u"42";
    r.dtStart.days = 40000.5;
    r.dtEnd.days = 40001.25;
    r.dtRecurEnd.days = 40100.0;
    r.lPhoneId = 42;
    r.strAux1 = u"a1";
    r.strAux2 = u"a2";
    r.lRecurType = 3;
    r.lRecurWeek = -1;
    r.lRecurDayMask = 32;
    r.lRecurInterval = 2;
    r.bRecurHasEnd = 1;
    r.lReminderMinutes = 15;
    r.pSource = 0x1234;
    r.lAux10 = 15;
    r.bAllDay = 1;
    r.lAux11 = 9;
    r.AddField(KX_CAL_TITLE, u"one");
    r.AddField(KX_CAL_LOCATION, u"two");
    r.AddField(KX_CAL_TITLE, u"three")->strAux = u"x";
    return r;
}

TEST(CalendarRecord, ConstructionAndResetGiveTheStartingValues) {
    CalendarRecord r = Filled();
    r.nVersion = 101;
    r.Reset();
    CalendarRecord fresh;
    for (const CalendarRecord* rec : {&r, &fresh}) {
        // fields state aux1 id interval aux7 reminder source allDay, dates not zero, id text
        int dates = 0;
        for (const platform::OleDate* d :
             {&rec->dtStart, &rec->dtEnd, &rec->dtLastModified, &rec->dtAux, &rec->dtRecurEnd})
            dates += d->days != 0.0 || d->status != 0;
        EXPECT_EQ(std::make_tuple(0ul, -1, -1, -1, 1, 1, 0, 0ul, 0, 0, std::u16string()),
                  std::make_tuple(rec->fields.size(), rec->lState, rec->lAux1, rec->lPhoneId,
                                  rec->lRecurInterval, rec->lAux7, rec->lReminderMinutes,
                                  static_cast<unsigned long>(rec->pSource), rec->bAllDay, dates, rec->strId));
    }
    EXPECT_EQ(101, r.nVersion) << "reset keeps the version";
    EXPECT_EQ(103, CalendarRecord().nVersion);

    CalendarField f(KX_CAL_TITLE, u"t");
    f.nAux1 = 5;
    f.Reset();
    EXPECT_EQ(100, f.nVersion);
    EXPECT_EQ(-1, f.nAux1);
    EXPECT_EQ(-1, f.nAux3);
    EXPECT_EQ(0, f.nType);
}

TEST(CalendarRecord, CopyIsDeepAndKeepsItemOrder) {
    CalendarRecord source = Filled();
    CalendarRecord copy(source);
    ASSERT_EQ(3u, copy.fields.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(source.fields[i], copy.fields[i]);
        EXPECT_EQ(source.fields[i]->strData, copy.fields[i]->strData);
        EXPECT_EQ(source.fields[i]->nType, copy.fields[i]->nType);
    }
    EXPECT_EQ(u"x", copy.fields[2]->strAux);
    EXPECT_EQ(u"three", copy.LastField(KX_CAL_TITLE)->strData);
    EXPECT_EQ(u"one", copy.FirstField(KX_CAL_TITLE)->strData);
    EXPECT_EQ(source.dtEnd, copy.dtEnd);
    EXPECT_EQ(std::make_tuple(-1, uintptr_t{0x1234}, 9),
              std::make_tuple(copy.lRecurWeek, copy.pSource, copy.lAux11));

    // Assignment replaces what the target held.
    CalendarRecord target;
    target.AddField(KX_CAL_DESCRIPTION, u"old");
    target = CalendarRecord();
    EXPECT_TRUE(target.fields.empty());
    target = source;
    EXPECT_EQ(3u, target.fields.size());

    // Self-assignment does nothing.
    CalendarRecord& alias = target;
    target = alias;
    ASSERT_EQ(3u, target.fields.size());
    EXPECT_EQ(u"one", target.fields[0]->strData);
}

TEST(CalendarRecord, VersionGatesOfOlderSources) {
    struct Case {
        int32_t version;
        int32_t aux10, allDay, aux11;
    } cases[] = {{100, 0, 0, 0}, {101, 15, 0, 0}, {102, 15, 1, 0}, {103, 15, 1, 9}};
    for (const Case& c : cases) {
        CalendarRecord source = Filled();
        source.nVersion = c.version;
        CalendarRecord copy;
        copy.lAux10 = copy.bAllDay = copy.lAux11 = 77;
        copy = source;
        EXPECT_EQ(std::make_tuple(c.aux10, c.allDay, c.aux11),
                  std::make_tuple(copy.lAux10, copy.bAllDay, copy.lAux11))
            << c.version;
        EXPECT_EQ(103, copy.nVersion);
    }
}

} // namespace
