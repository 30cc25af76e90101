// Incremental reads and clears through the exports against an in-process kxphone-sim: calendar
// edits of every kind arrive once and not after the clear (contact ones: the kxsync mirror
// suite), an edit made between the read and the clear survives it, calendar entries clear by id,
// and a failed read leaves the log as it was.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

#include "driver/app.h"
#include "platform/format.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using kxtest::ParseJson;

constexpr int64_t kClock = 1767000000000;
constexpr uint32_t kChangeLog = KX_READ_CHANGE_LOG;

// A weekly event on Thursdays from 2026-01-08 09:00 UTC, or a single one with weekly false.
Json::Value Event(const std::string& title, bool weekly = false) {
    Json::Value row = ParseJson(R"({"calendar_id":"1","title":")" + title +
                                R"(","dtstart":"1767862800000","dtend":"1767866400000","allDay":"0",
        "eventTimezone":"UTC"})");
    if (weekly)
        row["rrule"] = "FREQ=WEEKLY;BYDAY=TH";
    return row;
}

Json::Value Edit(const std::string& id, const char* key, const char* value) {
    Json::Value row(Json::objectValue);
    row["__id"] = id;
    row[key] = value;
    return row;
}

class ChangeLogE2E : public kxtest::DriverOnSim {
protected:
    void SetUp() override {
        kxtest::SimOptions options;
        options.clockMs = kClock;
        Start(options, u"SIM");
        ASSERT_TRUE(sim_->store().SetCalendarTracking(true).ok);
        host_.SetHook([this](uint32_t code, intptr_t value) {
            if (code == 0x20001) {
                auto r = reinterpret_cast<const ContactRecord*>(value);
                seen_[platform::Narrow(r->strPIMID)] += r->lFlag;
            } else if (code == 0x80001) {
                auto r = reinterpret_cast<const CalendarRecord*>(value);
                seen_[platform::Narrow(r->strId)] += r->lFlag;
                ids_.push_back(r->strId);
                if (const CalendarField* f = r->LastField(KX_CAL_EXCEPTIONS))
                    exceptions_ = platform::Narrow(f->strData);
            }
        });
    }

    // Read(type, change-log bit): what arrived, id -> lFlag (a record seen twice adds up).
    std::map<std::string, int> Changes(int32_t type, int32_t expected = KX_OK) {
        seen_.clear();
        ids_.clear();
        host_.Clear();
        EXPECT_EQ(expected, ::Read(type, kChangeLog));
        uint32_t family = static_cast<uint32_t>(type) << 16;
        EXPECT_EQ(expected == KX_OK ? (family | 3) : (family | 2), host_.Codes().back());
        return seen_;
    }
    void Clear(int32_t type) {
        KXCalendarIdList ids = ids_;
        ::ClearChangeLog(type, type == KX_TYPE_CALENDAR ? reinterpret_cast<uintptr_t>(&ids) : 0);
    }
    // The handset's log as "id:add modify delete" words.
    std::string Log(const char* kind) {
        std::string out;
        for (const Json::Value& e : sim_->store().ChangeLog(kind))
            out += e["__id"].asString() + ":" + e["_add"].asString() + e["_modify"].asString() +
                   e["_delete"].asString() + " ";
        return out;
    }
    void Later() { sim_->store().SetFixedClock(clock_ += 60000); }

    std::map<std::string, int> seen_;
    KXCalendarIdList ids_;
    std::string exceptions_;
    int64_t clock_ = kClock;
};

TEST_F(ChangeLogE2E, CalendarEditsOfEveryKindArriveOnceAndNotAfterTheClear) {
    std::string weekly = sim_->AddEvent(Event("Weekly", true));
    std::string moved = sim_->AddEvent(Event("Moved"));
    std::string dropped = sim_->AddEvent(Event("Dropped"));
    Changes(KX_TYPE_CALENDAR);
    Clear(KX_TYPE_CALENDAR);
    ASSERT_EQ("", Log("calendar"));

    std::string added = sim_->AddEvent(Event("Added"));
    ASSERT_TRUE(sim_->ModifyEvent(Edit(moved, "title", "Moved again")));
    ASSERT_TRUE(sim_->DeleteEvent(dropped));
    // One instance moved by an hour, the next one cancelled.
    Json::Value instance = ParseJson(R"({"originalInstanceTime":"1768467600000","dtstart":"1768471200000",
        "dtend":"1768474800000","title":"Weekly, later"})");
    instance["parentID"] = weekly;
    ASSERT_FALSE(sim_->AddEvent(instance).empty());
    ASSERT_TRUE(sim_->ModifyEvent(Edit(weekly, "exdate", "20260122T090000Z")));

    EXPECT_EQ((std::map<std::string, int>{{added, 8}, {moved, 4}, {dropped, 0x20}, {weekly, 4}}),
              Changes(KX_TYPE_CALENDAR));
    EXPECT_NE(std::string::npos, exceptions_.find("<modification")) << exceptions_;
    EXPECT_NE(std::string::npos, exceptions_.find("<deletion")) << exceptions_;
    Clear(KX_TYPE_CALENDAR);
    EXPECT_EQ("", Log("calendar"));
    EXPECT_TRUE(Changes(KX_TYPE_CALENDAR).empty());
}

// The contact log clears only as a whole: with an unread change in it, nothing is cleared.
TEST_F(ChangeLogE2E, AnEditBetweenReadAndClearSurvivesTheClear) {
    std::string contact = sim_->AddContact(kxtest::NamedContact("Edited"));
    std::string event = sim_->AddEvent(Event("Edited"));
    Changes(KX_TYPE_CONTACT);
    Clear(KX_TYPE_CONTACT);
    Changes(KX_TYPE_CALENDAR);
    Clear(KX_TYPE_CALENDAR);
    ASSERT_EQ("", Log("contact") + Log("calendar"));

    struct Case {
        int32_t type;
        std::function<std::string()> add;
        std::function<bool()> edit;
        std::string id;
    };
    const Case cases[] = {
        {KX_TYPE_CONTACT, [&] { return sim_->AddContact(kxtest::NamedContact("New")); },
         [&] { return sim_->ModifyContact(Edit(contact, "starred", "1")); }, contact},
        {KX_TYPE_CALENDAR, [&] { return sim_->AddEvent(Event("New")); },
         [&] { return sim_->ModifyEvent(Edit(event, "title", "Edited again")); }, event},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const char* kind = c.type == KX_TYPE_CONTACT ? "contact" : "calendar";
        Later();
        ASSERT_TRUE(c.edit());
        EXPECT_EQ((std::map<std::string, int>{{c.id, 4}}), Changes(c.type));
        // On the handset, after the read: a new record, and the read one edited once more.
        std::string added = c.add();
        Later();
        ASSERT_TRUE(c.edit());
        std::string before = Log(kind);
        Clear(c.type);
        EXPECT_EQ(before, Log(kind));
        EXPECT_EQ((std::map<std::string, int>{{added, 8}, {c.id, 4}}), Changes(c.type));
        Clear(c.type);
        EXPECT_EQ("", Log(kind));
    }
}

TEST_F(ChangeLogE2E, ClearingCalendarEntriesByIdLeavesTheOthers) {
    std::string a = sim_->AddEvent(Event("A"));
    std::string b = sim_->AddEvent(Event("B"));
    std::string c = sim_->AddEvent(Event("C"));
    Changes(KX_TYPE_CALENDAR);
    ids_ = {platform::Widen(b)};
    Clear(KX_TYPE_CALENDAR);
    EXPECT_EQ(a + ":110 " + c + ":110 ", Log("calendar"));
    EXPECT_EQ((std::map<std::string, int>{{a, 8}, {c, 8}}), Changes(KX_TYPE_CALENDAR));
}

// Whatever the batch answer lacks, the read fails and the following clear keeps the log.
TEST_F(ChangeLogE2E, AFailedBatchGives1100AndTheLogStays) {
    sim_->AddContact(kxtest::NamedContact("One"));
    sim_->AddEvent(Event("One"));
    const std::string logs = Log("contact") + Log("calendar");
    struct Case {
        int32_t type;
        const char* fault;
    };
    const Case cases[] = {
        {KX_TYPE_CONTACT, "status:-1:/contact/do/read:1"},
        {KX_TYPE_CONTACT, "non_json:/contact/do/read:1"},
        {KX_TYPE_CALENDAR, "undecipherable:/calendar/do/read:1"},
        {KX_TYPE_CALENDAR, "status:-1:/calendar/do/read:1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_TRUE(sim_->AddFault(c.fault));
        EXPECT_TRUE(Changes(c.type, KX_OTHER_FAILURE).empty());
        Clear(c.type);
        EXPECT_EQ(logs, Log("contact") + Log("calendar"));
    }
}

} // namespace
