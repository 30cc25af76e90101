// Contact and calendar writes through the exported Write against the simulated handset service:
// what is sent, in how many requests, what comes back into the host's records, and that nothing
// the handset did not confirm loses its status bit.
#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>
#include <kxphone/record_list.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/app.h"
#include "platform/format.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

class RecordWriteE2E : public kxtest::DriverOnSim {
protected:
    void SetUp() override { Start(kxtest::SimOptions(), u"SER-W"); }

    // Host records owned by the test, handed to Write as a host does. fields: what the record counts
    // against a request's budget (its fields and the name row they complete).
    ContactRecord* NewContact(const std::u16string& given, int fields = 0, int32_t flag = KX_RECORD_CREATE) {
        auto r = std::make_unique<ContactRecord>();
        r->lFlag = flag;
        r->AddField(KX_CF_GIVEN_NAME, given);
        for (int i = 2; i < fields; ++i)
            r->AddField(KX_CF_OTHER_PHONE, u"+1 555 01" + platform::Widen(std::to_string(i)));
        contacts_.push_back(std::move(r));
        return contacts_.back().get();
    }
    void NewContacts(int n, int fields = 0) {
        for (int i = 0; i < n; ++i)
            NewContact(u"P" + platform::Widen(std::to_string(i)), fields);
    }
    KXContactList ContactList() {
        KXContactList list;
        for (auto& r : contacts_)
            list.push_back(r.get());
        return list;
    }
    // Every record of the test through the exported Write.
    int32_t WriteContacts() {
        KXContactList list = ContactList();
        return ::Write(KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&list));
    }
    // Records per request, largest first (two workers answer in either order).
    std::vector<size_t> RequestSizes(const std::string& path) {
        std::vector<size_t> sizes = sim_->ObjectCounts(path);
        std::sort(sizes.rbegin(), sizes.rend());
        return sizes;
    }
    size_t Pending(int32_t bit) {
        size_t n = 0;
        for (auto& r : contacts_)
            n += (r->lFlag & bit) != 0;
        return n;
    }
    // Every record is either confirmed (id, bit cleared) or waits for the next write (bit kept).
    void ExpectConfirmedOrPending(int32_t bit) {
        for (auto& r : contacts_)
            EXPECT_NE(r->strPIMID.empty(), (r->lFlag & bit) == 0) << platform::Narrow(r->strPIMID);
    }
    size_t HandsetContacts() {
        RecordList<ContactRecord> list;
        EXPECT_EQ(KX_OK, theApp.m_FakePhone.ReadContact(&list));
        return list.size();
    }

    std::vector<std::unique_ptr<ContactRecord>> contacts_;
};

TEST_F(RecordWriteE2E, ContactsAreWrittenBackAndReadBackAsWritten) {
    ContactRecord* ann = NewContact(u"Ann");
    ann->AddField(KX_CF_MOBILE, u"+44 20 7946 0000");
    ann->AddField(KX_CF_NOTE, u"two\r\nlines");
    ContactRecord* both = NewContact(u"Both", 0, KX_RECORD_CREATE | KX_RECORD_DELETE);
    ContactRecord* untouched = NewContact(u"Untouched", 0, 0);
    KXContactList list = ContactList();
    list.insert(list.begin() + 1, nullptr);
    EXPECT_EQ(KX_OK, ::Write(KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&list)));
    EXPECT_FALSE(ann->strPIMID.empty());
    EXPECT_EQ(0, ann->lFlag);
    EXPECT_EQ(KX_RECORD_DELETE, both->lFlag); // only created; its other bit stays
    EXPECT_TRUE(untouched->strPIMID.empty());
    EXPECT_EQ(2u, host_.ValuesOf(0x20004).size());
    EXPECT_EQ((std::vector<intptr_t>{0}), host_.ValuesOf(0x20006));
    EXPECT_EQ(1u, sim_->Requests("/contact/do/fastread").size());

    RecordList<ContactRecord> read;
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadContact(&read));
    ASSERT_EQ(2u, read.size());
    const ContactRecord* back = read[0]->strPIMID == ann->strPIMID ? read[0] : read[1];
    EXPECT_EQ(u"+44 20 7946 0000", back->FindField(KX_CF_MOBILE)->strData);
    EXPECT_EQ(u"two\r\nlines", back->FindField(KX_CF_NOTE)->strData);
    // Every write, fetch and read was confirmed under its own session id.
    EXPECT_TRUE(sim_->journal().UnconfirmedSessions().empty());

    // An update and a delete; a delete of a record the handset never had needs no request, an
    // update of such a record creates it.
    ann->lFlag = KX_RECORD_UPDATE;
    ann->FindField(KX_CF_MOBILE)->strData = u"+44 20 7946 0001";
    both->lFlag = KX_RECORD_DELETE;
    NewContact(u"Never stored", 0, KX_RECORD_DELETE);
    ContactRecord* late = NewContact(u"Late", 0, KX_RECORD_UPDATE);
    EXPECT_EQ(KX_OK, WriteContacts());
    EXPECT_FALSE(late->strPIMID.empty());
    EXPECT_EQ(1u, RequestSizes("/contact/do/delete").size());
    read.Clear();
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadContact(&read));
    EXPECT_EQ(2u, read.size());
    back = read[0]->strPIMID == ann->strPIMID ? read[0] : read[1];
    EXPECT_EQ(u"+44 20 7946 0001", back->FindField(KX_CF_MOBILE)->strData);

    // A restore writes silently: no message, no fetch of times, nothing written back.
    host_.Clear();
    NewContact(u"Restored");
    list = ContactList();
    const size_t fetches = sim_->Requests("/contact/do/fastread").size();
    EXPECT_EQ(KX_OK, theApp.m_FakePhone.WriteContact(&list, true));
    EXPECT_TRUE(host_.Messages().empty());
    EXPECT_EQ(fetches, sim_->Requests("/contact/do/fastread").size());
    EXPECT_EQ(KX_OK, theApp.m_FakePhone.WriteContact(nullptr, false));
}

// Requests are bounded by record count (by product id; ten times as many deletes), a field budget
// of 500 that a record must stay below to share a request, and the smallest byte limit.
TEST_F(RecordWriteE2E, RequestLimits) {
    const struct {
        const char* name;
        int32_t productId, platformClass, records, fields;
        std::vector<size_t> sizes;
    } cases[] = {
        {"count", -1, 5, 120, 1, {50, 50, 20}},     {"small product", 3574, 5, 25, 1, {10, 10, 5}},
        {"field budget", -1, 5, 11, 50, {9, 2}},    {"500 fields go alone", -1, 5, 3, 500, {1, 1, 1}},
        {"byte limit of sdk 4", -1, 1, 30, 20, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(kxtest::SimOptions(), u"SER-W");
        contacts_.clear();
        theApp.m_FakePhone.ProductId = c.productId;
        theApp.m_FakePhone.PlatformClass = c.platformClass;
        NewContacts(c.records, c.fields);
        EXPECT_EQ(KX_OK, WriteContacts());
        if (!c.sizes.empty()) {
            EXPECT_EQ(c.sizes, RequestSizes("/contact/do/create"));
        }
        for (const kxsim::JournalEntry& e : sim_->Requests("/contact/do/create"))
            EXPECT_LE(e.body.size(), c.platformClass < 2 ? 5120u : 81920u);
        EXPECT_EQ(static_cast<size_t>(c.records), HandsetContacts());
    }
    // Deletes go ten times as many to a request.
    theApp.m_FakePhone.PlatformClass = 5;
    contacts_.clear();
    NewContacts(120);
    EXPECT_EQ(KX_OK, WriteContacts());
    for (auto& r : contacts_)
        r->lFlag = KX_RECORD_DELETE;
    EXPECT_EQ(KX_OK, WriteContacts());
    EXPECT_EQ((std::vector<size_t>{120}), RequestSizes("/contact/do/delete"));

    // A record over 500 fields is not sent, and the write says so.
    contacts_.clear();
    NewContact(u"Too big", 501);
    EXPECT_EQ(KX_OTHER_FAILURE, WriteContacts());
    EXPECT_EQ(1u, Pending(KX_RECORD_CREATE));
}

// What the handset does not confirm keeps its bit, and the write does not report success.
TEST_F(RecordWriteE2E, UnconfirmedRecordsKeepTheirBits) {
    const struct {
        const char* fault;
        int32_t result;
        size_t pendingAtLeast;
        bool storedAnyway; // the handset stored what it could not confirm
    } cases[] = {
        // The two workers' requests reach the handset in either order: the one refused may be
        // the last and smallest.
        {"status:-4:/contact/do/create:1:skip=1", KX_WRITE_REFUSED, 20, false},
        {"status:-2:/contact/do/create:1:skip=1", KX_OTHER_FAILURE, 20, false},
        {"non_json:/contact/do/create:1", KX_OTHER_FAILURE, 50, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Start(kxtest::SimOptions(), u"SER-W");
        host_.Clear();
        contacts_.clear();
        NewContacts(120);
        ASSERT_TRUE(sim_->AddFault(c.fault));
        EXPECT_EQ(c.result, WriteContacts());
        EXPECT_EQ((std::vector<intptr_t>{c.result}), host_.ValuesOf(0x20005));
        EXPECT_GE(Pending(KX_RECORD_CREATE), c.pendingAtLeast);
        ExpectConfirmedOrPending(KX_RECORD_CREATE);
        EXPECT_EQ(c.storedAnyway ? 120 : 120 - Pending(KX_RECORD_CREATE), HandsetContacts());
    }
}

// The two workers send at the same time; Stop ends a long write soon, and what was not written
// keeps its bit.
TEST_F(RecordWriteE2E, TwoWorkersOverlapAndStopEndsSoon) {
    NewContacts(5000);
    ASSERT_TRUE(sim_->AddFault("stall:0.05:/contact/do/create:1000"));
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ::Stop(KX_TYPE_CONTACT, 0);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KX_STOPPED, WriteContacts());
    auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_LT(took, std::chrono::seconds(3));
    ExpectConfirmedOrPending(KX_RECORD_CREATE);
    EXPECT_GT(Pending(KX_RECORD_CREATE), 0u);
    EXPECT_EQ(5000 - Pending(KX_RECORD_CREATE), HandsetContacts());

    std::vector<kxsim::JournalEntry> creates = sim_->Requests("/contact/do/create");
    ASSERT_GE(creates.size(), 2u);
    EXPECT_LT(creates[1].arrivedMs,
              creates[0].answeredMs); // the second went out before the first was answered
}

// A connection lost after the handset stored a create: nothing is lost; the record may be stored
// twice, the lesser harm.
TEST_F(RecordWriteE2E, ALostAnswerLosesNothing) {
    NewContact(u"Once");
    ASSERT_TRUE(sim_->AddFault("close_mid_body:/contact/do/create:1"));
    int32_t result = WriteContacts();
    EXPECT_TRUE(result == KX_OK ? Pending(KX_RECORD_CREATE) == 0 : Pending(KX_RECORD_CREATE) == 1) << result;
    EXPECT_GE(HandsetContacts(), 1u);
}

// A recurring event with a moved instance: its exception row follows it with the id it got, and an
// update replaces the row instead of adding one (below sdk 14 the handset cannot match rows).
TEST_F(RecordWriteE2E, ExceptionRowsFollowTheirEventAndAreReplacedOnUpdate) {
    theApp.m_FakePhone.SdkVersion = 13;
    CalendarRecord event;
    event.lFlag = KX_RECORD_CREATE;
    event.dtStart = platform::OleDate::FromCivil(2026, 1, 5, 9, 30);
    event.dtEnd = platform::OleDate::FromCivil(2026, 1, 5, 10, 0);
    event.lRecurType = 2;
    event.lRecurDayMask = 2; // Mondays
    event.AddField(KX_CAL_TITLE, u"Weekly");
    auto moved = [&](const char* start) {
        return u"<exception><modification datetime=\"2026/01/12 " + platform::Widen(start) +
               u"\" time=\"2026/01/12\"><allday>0</allday><start>2026/01/12 " + platform::Widen(start) +
               u"</start><end>2026/01/12 "
               u"12:00:00</end><reminderset>0</reminderset></modification></exception>";
    };
    CalendarField* exceptions = event.AddField(KX_CAL_EXCEPTIONS, moved("11:00:00"));
    KXCalendarList list{&event};
    ASSERT_EQ(KX_OK, ::Write(KX_TYPE_CALENDAR, reinterpret_cast<uintptr_t>(&list)));
    ASSERT_FALSE(event.strId.empty());
    ASSERT_NE(nullptr, event.FirstField(KX_CAL_ICAL_GUID));
    std::vector<kxsim::JournalEntry> rows = sim_->Requests("/calendar/do/create");
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(platform::Narrow(event.strId),
              kxtest::ParseJson(rows[1].body)["objects"][0]["parentID"].asString());

    for (const char* start : {"11:00:00", "11:30:00"}) {
        event.lFlag = KX_RECORD_UPDATE;
        exceptions->strData = moved(start);
        ASSERT_EQ(KX_OK, ::Write(KX_TYPE_CALENDAR, reinterpret_cast<uintptr_t>(&list)));
    }
    std::vector<kxsim::JournalEntry> deletes = sim_->Requests("/calendar/do/delete");
    ASSERT_EQ(2u, deletes.size()); // each update removes the row the write before made
    RecordList<CalendarRecord> read;
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.ReadCalendar(KX_READ_NO_TRACKING, &read));
    ASSERT_EQ(1u, read.size());
    const CalendarField* back = read[0]->LastField(KX_CAL_EXCEPTIONS);
    ASSERT_NE(nullptr, back);
    EXPECT_NE(std::u16string::npos, back->strData.find(u"<start>2026/01/12 11:30:00</start>"));
    EXPECT_EQ(back->strData.find(u"<modification"), back->strData.rfind(u"<modification")); // just one
}

} // namespace
