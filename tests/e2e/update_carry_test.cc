// An update changes only what the host changed: what the host's record cannot hold is still on the
// simulated handset after the write.
#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>
#include <kxphone/record_list.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <memory>
#include <string>

#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

const char kMime[] = "vnd.android.cursor.item/";

Json::Value Row(const std::string& mimetype,
                std::initializer_list<std::pair<const char*, const char*>> columns) {
    Json::Value row(Json::objectValue);
    row["mimetype"] = kMime + mimetype;
    for (const auto& [key, value] : columns)
        row[key] = value;
    return row;
}

// Rows as sorted texts: the order rows are stored in is no data. Without primary, which row is
// primary is left out too: that is the host's to say.
std::vector<std::string> RowTexts(Json::Value rows, bool primary = true) {
    std::vector<std::string> texts;
    for (Json::Value& row : rows) {
        if (!primary) {
            row.removeMember("is_primary");
            row.removeMember("is_super_primary");
        }
        texts.push_back(Json::FastWriter().write(row));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

class UpdateCarryE2E : public kxtest::DriverOnSim {
protected:
    void SetUp() override { Start(kxtest::SimOptions(), u"SER-C", false); }

    // The handset's objects (contacts) or rows (events) by id, as the service sends them.
    Json::Value Handset(bool contacts) {
        Json::Value ids = contacts ? sim_->store().ContactIds() : sim_->store().EventIds(), objects;
        EXPECT_TRUE(contacts ? sim_->store().ReadContacts(ids, &objects).ok
                             : sim_->store().ReadEvents(ids, &objects).ok);
        // A modified instance is sent anew with every update of its event: it is known by its
        // event and the instance it replaces, not by its own id.
        Json::Value byId(Json::objectValue);
        for (Json::Value& o : objects) {
            std::string id = o.get("parentID", "").asString().empty()
                                 ? o["__id"].asString()
                                 : o["parentID"].asString() + "@" + o["originalInstanceTime"].asString();
            for (const char* handsetOwn : {"sync4", "last_update_time", "__id"})
                o.removeMember(handsetOwn);
            byId[id] = o;
        }
        return byId;
    }
    template <class Record> int32_t WriteAll(RecordList<Record>& records, int32_t type) {
        std::vector<Record*> list(records.begin(), records.end());
        for (Record* r : list)
            r->lFlag = KX_RECORD_UPDATE;
        return ::Write(type, reinterpret_cast<uintptr_t>(&list));
    }
};

TEST_F(UpdateCarryE2E, ContactRowsTheRecordCannotHoldSurvive) {
    Json::Value contact = kxtest::NamedContact("Ann");
    Json::Value& rows = contact["__data"];
    rows[0] = Row("name",
                  {{"data2", "Ann"}, {"data3", "Lee"}, {"data4", "Dr."}, {"data5", "Mae"}, {"data6", "Jr."}});
    for (const char* number : {"+1 555 0101", "+1 555 0102", "+1 555 0103"})
        rows.append(Row("phone_v2", {{"data1", number}, {"data2", "1"}}));
    rows.append(Row("email_v2", {{"data1", "ann@home.example"}, {"data2", "1"}}));
    rows.append(Row("email_v2", {{"data1", "ann@work.example"}, {"data2", "2"}, {"data3", "desk"}}));
    rows.append(Row("relation", {{"data1", "Bob"}, {"data2", "14"}}));
    rows.append(Row("vexo_event_v2", {{"data1", "2026-05-01"}, {"data2", "42"}}));
    const std::string id = sim_->AddContact(contact);
    ASSERT_FALSE(id.empty());
    Json::Value before = Handset(true)[id];

    RecordList<ContactRecord> read;
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadContact(&read));
    ASSERT_EQ(1u, read.size());
    // The host changes the family name and drops the first address.
    auto edited = std::make_unique<ContactRecord>(*read[0]);
    edited->RemoveAllFields();
    for (int32_t i = 0; i < read[0]->GetFieldCount(); ++i)
        if (read[0]->GetField(i)->strData != u"ann@home.example")
            edited->AppendField(*read[0]->GetField(i));
    edited->FindField(KX_CF_FAMILY_NAME)->strData = u"Lee-Park";
    read.Clear();
    read.Add(std::move(edited));
    ASSERT_EQ(KX_OK, WriteAll(read, KX_TYPE_CONTACT));

    // Only the family name and the removed address differ.
    Json::Value after = Handset(true)[id];
    Json::Value kept(Json::arrayValue);
    for (Json::Value row : before["__data"]) {
        if (row.get("data1", "") == "ann@home.example")
            continue;
        if (row.get("data3", "") == "Lee")
            row["data3"] = "Lee-Park";
        kept.append(row);
    }
    EXPECT_EQ(RowTexts(kept, false), RowTexts(after["__data"], false));

    // Deleted on the handset between read and write: the update does not bring it back.
    ASSERT_TRUE(sim_->DeleteContact(id));
    WriteAll(read, KX_TYPE_CONTACT);
    EXPECT_TRUE(sim_->store().ContactIds().empty());
}

// A rule the record holds only part of is kept while the host leaves the pattern alone; a pattern
// the host changed is written as the host has it.
TEST_F(UpdateCarryE2E, EventRuleTextIsKeptUntilTheHostChangesThePattern) {
    // From 2026-01-05 10:00 UTC.
    const std::string id = sim_->AddEvent(kxtest::ParseJson(R"({"calendar_id":"1","title":"Month end",
        "dtstart":"1767607200000","duration":"P3600S","allDay":"0","hasAlarm":"0",
        "rrule":"FREQ=MONTHLY;BYSETPOS=-1;BYDAY=MO,TU,WE,TH,FR"})"));
    ASSERT_FALSE(id.empty());

    RecordList<CalendarRecord> read;
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadCalendar(KX_READ_NO_TRACKING, &read));
    ASSERT_EQ(1u, read.size());
    read[0]->AddField(KX_CAL_TITLE, u"Month end review");
    ASSERT_EQ(KX_OK, WriteAll(read, KX_TYPE_CALENDAR));
    Json::Value after = Handset(false)[id];
    EXPECT_EQ("Month end review", after["title"].asString());
    EXPECT_EQ("FREQ=MONTHLY;BYSETPOS=-1;BYDAY=MO,TU,WE,TH,FR", after["rrule"].asString());

    read[0]->lRecurType = 2; // now weekly on the days it holds
    ASSERT_EQ(KX_OK, WriteAll(read, KX_TYPE_CALENDAR));
    EXPECT_EQ(0u, Handset(false)[id]["rrule"].asString().find("FREQ=WEEKLY")) << Handset(false)[id];
}

// Reading the whole seeded store and writing every record back unchanged changes nothing.
TEST_F(UpdateCarryE2E, UnchangedRoundTripOfTheSeededStore) {
    kxtest::SimOptions seeded;
    seeded.contacts = 40;
    seeded.events = 30;
    Start(seeded, u"SER-C", false);
    theApp.m_FakePhone.SdkVersion = 19; // below 14 a moved instance cannot name the one it replaces
    for (bool contacts : {true, false}) {
        SCOPED_TRACE(contacts ? "contacts" : "events");
        Json::Value before = Handset(contacts);
        if (contacts) {
            RecordList<ContactRecord> read;
            ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadContact(&read));
            ASSERT_EQ(KX_OK, WriteAll(read, KX_TYPE_CONTACT));
        } else {
            RecordList<CalendarRecord> read;
            ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadCalendar(KX_READ_NO_TRACKING, &read));
            ASSERT_EQ(KX_OK, WriteAll(read, KX_TYPE_CALENDAR));
        }
        Json::Value after = Handset(contacts);
        for (const std::string& id : before.getMemberNames()) {
            Json::Value rowsBefore, rowsAfter;
            before[id].removeMember("__data", &rowsBefore);
            after[id].removeMember("__data", &rowsAfter);
            EXPECT_EQ(RowTexts(rowsBefore), RowTexts(rowsAfter)) << id;
            EXPECT_EQ(before[id], after[id]) << id;
        }
    }
}

} // namespace
