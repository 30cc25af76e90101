// Backup and Restore through the exports against the simulated handset: the three modes, what a
// restore sends, the collecting reads, a real full disk, and what is left behind.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <filesystem>
#include <set>

#include "calendar/calendar_backup.h"
#include "contacts/contact_backup.h"
#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"
#include "transport/text_encoding.h"

namespace {

class BackupRestoreE2E : public kxtest::DriverOnSim {
protected:
    void Start(int contacts, int events) {
        kxtest::SimOptions o;
        o.contacts = contacts, o.events = events;
        DriverOnSim::Start(o, u"SER-B");
    }
    int32_t Backup(int32_t type) { return ::Backup(type, u"", 0, dir_.c_str(), 0, 0); }
    int32_t Restore(int32_t type, int32_t mode) { return ::Restore(type, u"", 0, dir_.c_str(), 0, mode, 0); }
    // The ids a request named; a created event as its "title@calendar_id". Exception rows aside.
    std::multiset<std::string> Ids(const std::string& path) {
        std::multiset<std::string> ids;
        for (const kxsim::JournalEntry& e : sim_->Requests(path)) {
            const Json::Value body = kxtest::ParseJson(e.body);
            for (const Json::Value& o : body["objects"])
                if (!o.isMember("parentID"))
                    ids.insert(o.isMember("__id")
                                   ? o["__id"].asString()
                                   : o["title"].asString() + "@" + o["calendar_id"].asString());
        }
        return ids;
    }
    size_t Sent(const std::string& kind) {
        return Ids("/" + kind + "/do/create").size() + Ids("/" + kind + "/do/delete").size();
    }
    std::multiset<std::string> HandsetIds(bool calendar) {
        RecordList<ContactRecord> contacts;
        RecordList<CalendarRecord> events;
        EXPECT_EQ(KX_OK, calendar ? theApp.m_FakePhone.ReadCalendar(0, &events)
                                  : theApp.m_FakePhone.ReadContact(&contacts));
        std::multiset<std::string> ids;
        for (ContactRecord* r : contacts)
            ids.insert(WideToUtf8(r->strPIMID));
        for (CalendarRecord* r : events)
            ids.insert(WideToUtf8(r->strId));
        return ids;
    }

    kxtest::TempDir folder_{"kxrestore"};
    std::u16string dir_ = Utf8ToWide(folder_.path());
};

TEST_F(BackupRestoreE2E, ContactsInEveryMode) {
    Start(12, 0);
    const std::multiset<std::string> original = HandsetIds(false);
    auto pictures = [this] { return kxtest::FilesIn(env_.dir() + "/Vexo/data"); };
    const size_t picturesBefore = pictures();
    ASSERT_GT(picturesBefore, 0u);
    ASSERT_EQ(KX_OK, Backup(KX_BACKUP_CONTACT));
    EXPECT_TRUE(host_.Messages().empty()); // the backup's read is silent

    // Everything present: nothing is sent.
    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CONTACT, KX_RESTORE_ADD_MISSING));
    EXPECT_EQ(0u, Sent("contact"));

    // The plan hands over what would be created, without the backed-up ids; nothing is written.
    size_t withId = 0;
    host_.SetHook([&](uint32_t code, intptr_t v) {
        withId += code == 0x20001 && !reinterpret_cast<const ContactRecord*>(v)->strPIMID.empty();
    });
    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CONTACT, KX_RESTORE_ADD_ALL | KX_RESTORE_PLAN_ONLY));
    host_.SetHook(nullptr);
    EXPECT_EQ(original.size(), host_.Messages().size());
    EXPECT_EQ(0u, withId);
    EXPECT_EQ(0u, Sent("contact"));
    // The pictures the backup's and the restores' reads and loads made are gone again.
    EXPECT_EQ(picturesBefore, pictures());

    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CONTACT, KX_RESTORE_ADD_ALL));
    const std::multiset<std::string> doubled = HandsetIds(false);
    EXPECT_EQ(2 * original.size(), doubled.size());

    // A replace deletes every handset contact before it creates the backed-up ones.
    sim_->journal().Clear();
    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CONTACT, KX_RESTORE_REPLACE));
    EXPECT_EQ(doubled, Ids("/contact/do/delete"));
    EXPECT_EQ(original.size(), HandsetIds(false).size());
    std::vector<kxsim::JournalEntry> all = sim_->Requests();
    auto firstCreate =
        std::find_if(all.begin(), all.end(), [](auto& e) { return e.path == "/contact/do/create"; });
    auto lastDelete =
        std::find_if(all.rbegin(), all.rend(), [](auto& e) { return e.path == "/contact/do/delete"; });
    EXPECT_LT(lastDelete.base() - all.begin(), firstCreate - all.begin() + 1);
}

TEST_F(BackupRestoreE2E, CalendarMatchingAndReplace) {
    Start(0, 12);
    ASSERT_EQ(KX_OK, Backup(KX_BACKUP_CALENDAR));
    EXPECT_TRUE(host_.Messages().empty());
    RecordList<CalendarRecord> saved;
    ASSERT_EQ(KX_OK, LoadCalendarFromBackupFile(&saved, dir_));
    size_t withExceptions = 0;
    for (CalendarRecord* r : saved)
        withExceptions += r->FirstField(KX_CAL_EXCEPTIONS) != nullptr;
    EXPECT_GT(withExceptions, 0u); // the collecting read keeps the exception lists

    // Replace: every handset event goes, each backed-up one comes back into its own calendar.
    const std::multiset<std::string> before = HandsetIds(true);
    sim_->journal().Clear();
    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CALENDAR, KX_RESTORE_REPLACE));
    EXPECT_EQ(before, Ids("/calendar/do/delete"));
    std::multiset<std::string> want;
    for (CalendarRecord* r : saved) {
        const CalendarField* title = r->FirstField(KX_CAL_TITLE);
        want.insert((title ? WideToUtf8(title->strData) : "") + "@" + std::to_string(r->nCalendarId));
    }
    EXPECT_EQ(want, Ids("/calendar/do/create"));

    // Add-missing by title; untitled events by title and start. Two backed-up events with one
    // handset title are both skipped.
    const platform::OleDate t1 = platform::OleDate::FromCivil(2030, 1, 2, 9), t2 = t1.AddSeconds(3600);
    std::vector<std::unique_ptr<CalendarRecord>> events;
    auto add = [&](const std::u16string& title, platform::OleDate start) {
        events.emplace_back(new CalendarRecord());
        CalendarRecord& e = *events.back();
        if (!title.empty())
            e.AddField(KX_CAL_TITLE, title);
        e.nCalendarId = 1, e.lReminderMinutes = -1;
        e.dtStart = start, e.dtEnd = start.AddSeconds(600);
    };
    const std::u16string known = u"Known on the handset";
    add(known, t1);
    add(u"", t1);
    KXCalendarList handsetSide{events[0].get(), events[1].get()};
    events[0]->lFlag = events[1]->lFlag = KX_RECORD_CREATE;
    ASSERT_EQ(KX_OK, theApp.m_FakePhone.WriteCalendar(&handsetSide, true));
    events.clear();
    add(known, t1);
    add(known, t2);
    add(u"Fresh", t1);
    add(u"", t1);
    add(u"", t2);
    KXCalendarList file;
    for (auto& e : events)
        file.push_back(e.get());
    ASSERT_EQ(KX_OK, SaveCalendarToBackupFile(file, dir_));
    sim_->journal().Clear();
    ASSERT_EQ(KX_OK, Restore(KX_BACKUP_CALENDAR, KX_RESTORE_ADD_MISSING));
    EXPECT_EQ((std::multiset<std::string>{"Fresh@1", "@1"}), Ids("/calendar/do/create"));
}

TEST_F(BackupRestoreE2E, BadModeStopAndAFullDisk) {
    Start(40, 0);
    // A bad mode is refused before the file or the handset is touched.
    EXPECT_EQ(KX_FAILED, Restore(KX_BACKUP_CONTACT, 3));
    EXPECT_EQ(KX_FAILED, Restore(KX_BACKUP_CALENDAR, -1));
    EXPECT_TRUE(sim_->Requests().empty());

    // A stopped backup does not stop the next one.
    theApp.m_FakePhone.StopFlag = true;
    EXPECT_EQ(KX_STOPPED, Backup(KX_BACKUP_CONTACT));
    EXPECT_EQ(KX_OK, Backup(KX_BACKUP_CONTACT));
    // A failed read fails the backup without a word to the host.
    ASSERT_TRUE(sim_->AddFault("status:-1:/contact/do/read:1"));
    EXPECT_EQ(KX_OTHER_FAILURE, Backup(KX_BACKUP_CONTACT));
    EXPECT_TRUE(host_.Messages().empty());

    // A real full disk: 12, and the previous backup stays as it was.
    kxtest::TempDir small("kxtmpfs");
    if (::mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{small.path()};
    std::u16string full = Utf8ToWide(small.path());
    ContactRecord one;
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&one}, full));
    const std::string previous = kxtest::FileBytes(small.path() + "/people.dat");
    EXPECT_EQ(KX_WRITE_REFUSED, ::Backup(KX_BACKUP_CONTACT, u"", 0, full.c_str(), 0, 0));
    EXPECT_EQ(previous, kxtest::FileBytes(small.path() + "/people.dat"));
    EXPECT_EQ(1u, kxtest::FilesIn(small.path()));
}

} // namespace
