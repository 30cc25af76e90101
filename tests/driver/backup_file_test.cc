// The backup files byte for byte, their round trip, a full disk and damaged files.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "calendar/calendar_backup.h"
#include "contacts/contact_backup.h"
#include "platform/oledate.h"
#include "support/test_util.h"
#include "support/trace_capture.h"
#include "sync/backup_file.h"
#include "sync/picture_file.h"

namespace {

namespace fs = std::filesystem;

std::string I32(int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}
std::string Txt(const std::u16string& t) {
    std::string s = I32(static_cast<int32_t>(t.size()));
    for (char16_t c : t)
        s += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return s;
}
std::u16string Utf16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
using kxtest::FileBytes;
using kxtest::FilesIn;
void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The real file system with the application-data folder in a scratch folder; the n-th write
// (counted from 1), the sync or the rename can be made to fail with a chosen error.
class FileFaultEnv : public kxtest::TempAppDataEnv {
public:
    FileFaultEnv() : TempAppDataEnv(true) {}
    long FileWrite(int f, const void* d, size_t n) override {
        if (++writes == failWrite)
            return errno = error, -1;
        return TempAppDataEnv::FileWrite(f, d, n);
    }
    int FileSync(int f) override { return failSync ? (errno = error, -1) : TempAppDataEnv::FileSync(f); }
    int FileRename(const std::string& a, const std::string& b) override {
        return failRename ? (errno = error, -1) : TempAppDataEnv::FileRename(a, b);
    }
    std::string Pictures() const { return dir() + "/Vexo/data"; }
    int writes = 0, failWrite = 0, error = ENOSPC;
    bool failSync = false, failRename = false;
};

const platform::OleDate kWhen = platform::OleDate::FromCivil(2024, 3, 5, 6, 7, 8);

class BackupFile : public ::testing::Test {
protected:
    FileFaultEnv env;
    kxtest::TempDir folder{"kxbackup"};
    std::u16string dir = Utf16(folder.path());
    std::string People() const { return folder.path() + "/people.dat"; }
    std::string Calendar() const { return folder.path() + "/calendar.dat"; }
    std::string Picture(size_t bytes) {
        std::string data(bytes, '\0');
        for (size_t i = 0; i < bytes; ++i)
            data[i] = static_cast<char>(i * 7 + i / 251);
        std::string path = env.dir() + "/picture.png";
        WriteAll(path, data);
        return path;
    }
    // A contact and an event with every member set away from its default.
    ContactRecord FullContact(const std::string& picture) {
        ContactRecord c;
        c.lFlag = 4, c.lIndex = 5, c.lUniqueID = 6, c.lPhoneMemory = 7, c.nTotalMemoryUsed = 8;
        c.dtLocation = 9, c.nContactID = 10, c.strPIMID = u"311", c.csFolder = u"Folder ü";
        c.strLastModify = kWhen, c.strCreated = platform::OleDate::FromCivil(1999, 12, 31, 23, 59, 59);
        c.AddField(KX_CF_GIVEN_NAME, u"Zoë");
        c.AddField(KX_CF_NOTE, u"line\r\n😀");
        c.AddField(KX_CF_MOBILE, u"+1 555");
        c.SetPicturePath(Utf16(picture));
        return c;
    }
    CalendarRecord FullEvent() {
        CalendarRecord e;
        // Two lists: one would be laid out a member a line.
        int32_t n = 1;
        for (int32_t* m : {&e.lState, &e.lFlag, &e.nCalendarId, &e.lAux1, &e.lPhoneId, &e.nAux2, &e.nAux3,
                           &e.nAux4, &e.lAux5, &e.lRecurType, &e.lRecurDay, &e.lRecurMonth})
            *m = ++n;
        for (int32_t* m : {&e.lRecurByWeekday, &e.lRecurWeek, &e.lRecurDayMask, &e.lRecurInterval, &e.lAux6,
                           &e.bRecurHasEnd, &e.lReminderMinutes, &e.lAux7, &e.lAux8, &e.lAux9, &e.lAux10,
                           &e.bAllDay, &e.lAux11})
            *m = ++n;
        e.strId = u"77", e.strAux1 = u"a1", e.strAux2 = u"a2 ✓";
        e.dtStart = kWhen, e.dtEnd = kWhen.AddSeconds(3600), e.dtLastModified = kWhen.AddSeconds(7);
        e.dtAux = kWhen.AddSeconds(86400), e.dtRecurEnd = kWhen.AddSeconds(864000);
        e.pSource = 0x1234;
        CalendarField* f = e.AddField(KX_CAL_TITLE, u"Stand-up");
        f->nAux1 = 11, f->nAux2 = 12, f->nAux3 = 13, f->lAux4 = 14, f->strAux = u"aux";
        e.AddField(KX_CAL_EXCEPTIONS, u"<exceptions/>");
        return e;
    }
};

TEST_F(BackupFile, EmptyContactAndEmptyCalendarAreExactBytes) {
    ContactRecord empty;
    empty.strLastModify = kWhen, empty.strCreated = kWhen;
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&empty}, dir));
    std::string date = Txt(u"2024-03-05 06:07:08");
    EXPECT_EQ(I32(1) + I32(0) + I32(-1) + I32(-1) + I32(-1) + I32(0) + I32(0) + I32(0) + Txt(u"") + Txt(u"") +
                  date + date + I32(0) + I32(0),
              FileBytes(People()));
    ASSERT_EQ(KX_OK, SaveCalendarToBackupFile({}, dir));
    EXPECT_EQ(I32(0), FileBytes(Calendar()));
    EXPECT_EQ(2u, FilesIn(folder.path())); // no temporary file left
}

TEST_F(BackupFile, EveryMemberSurvivesTheFileAndPSourceIsNotStored) {
    std::string picture = Picture(500000); // stored whole: the handset's picture limit is not the file's
    ContactRecord c = FullContact(picture);
    CalendarRecord e = FullEvent();
    CalendarRecord undated;
    undated.dtAux.status = platform::OleDate::kInvalid;
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&c}, dir));
    ASSERT_EQ(KX_OK, SaveCalendarToBackupFile({&e, &undated}, dir));
    std::string people = FileBytes(People());
    EXPECT_NE(std::string::npos, people.find(I32(500000) + FileBytes(picture)));

    RecordList<ContactRecord> contacts;
    RecordList<CalendarRecord> events;
    ASSERT_EQ(KX_OK, LoadContentFromBackupFile(&contacts, dir));
    ASSERT_EQ(KX_OK, LoadCalendarFromBackupFile(&events, dir));
    ASSERT_EQ(1, contacts.GetCount());
    ContactRecord& back = *contacts[0];
    std::string loadedPicture(back.PictureHolder()->strFilePath.begin(),
                              back.PictureHolder()->strFilePath.end());
    EXPECT_EQ(FileBytes(picture), FileBytes(loadedPicture));
    EXPECT_EQ(env.Pictures(), fs::path(loadedPicture).parent_path().string());
    back.PictureHolder()->strFilePath = c.PictureHolder()->strFilePath;
    std::vector<int32_t> want{c.lFlag,      c.lIndex,    c.lUniqueID, c.lPhoneMemory, c.nTotalMemoryUsed,
                              c.dtLocation, c.nContactID};
    EXPECT_EQ(want, (std::vector<int32_t>{back.lFlag, back.lIndex, back.lUniqueID, back.lPhoneMemory,
                                          back.nTotalMemoryUsed, back.dtLocation, back.nContactID}));
    EXPECT_EQ(c.strPIMID, back.strPIMID);
    EXPECT_EQ(c.csFolder, back.csFolder);
    EXPECT_EQ(c.strLastModify, back.strLastModify);
    EXPECT_EQ(c.strCreated, back.strCreated);
    ASSERT_EQ(c.GetFieldCount(), back.GetFieldCount());
    for (int32_t i = 0; i < c.GetFieldCount(); ++i)
        EXPECT_EQ(std::make_pair(c.GetField(i)->nType, c.GetField(i)->strData),
                  std::make_pair(back.GetField(i)->nType, back.GetField(i)->strData));

    // Every member in its place, written from distinct values; pSource as 0.
    auto n = [](int from, int to) {
        std::string s;
        for (int v = from; v <= to; ++v)
            s += I32(v);
        return s;
    };
    auto date = [](platform::OleDate d) { return Txt(BackupDateText(d)); };
    const std::string event =
        n(2, 4) + Txt(u"77") + date(e.dtStart) + date(e.dtEnd) + date(e.dtLastModified) + date(e.dtAux) +
        n(5, 7) + Txt(u"a1") + n(8, 9) + Txt(u"a2 ✓") + n(10, 18) + date(e.dtRecurEnd) + n(19, 22) + I32(0) +
        n(23, 26) + I32(2) + I32(3000) + Txt(u"Stand-up") + I32(12) + Txt(u"aux") + I32(14) + I32(13) +
        I32(11) + I32(3024) + Txt(u"<exceptions/>") + I32(0) + Txt(u"") + I32(0) + I32(-1) + I32(-1);
    ASSERT_EQ(2, events.GetCount());
    ASSERT_EQ(KX_OK, SaveCalendarToBackupFile({events[0]}, dir));
    EXPECT_EQ(I32(1) + event, FileBytes(Calendar()));
    EXPECT_EQ(0u, events[0]->pSource);
    EXPECT_EQ(platform::OleDate(), events[1]->dtAux); // an invalid date is an empty text, day zero again
}

// Every write position fails in turn, then the sync and the rename: 12 for a full disk (1 for
// another error), the previous backup byte for byte, no temporary file.
TEST_F(BackupFile, AFailedBackupKeepsThePreviousOne) {
    std::string picture = Picture(200000);
    ContactRecord c = FullContact(picture);
    ContactRecord other;
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&other}, dir));
    const std::string previous = FileBytes(People());
    env.writes = 0;
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&c, &c}, dir));
    const int positions = env.writes;
    ASSERT_GE(positions, 6);
    WriteAll(People(), previous);
    struct Fault {
        int write;
        bool sync, rename;
        int error;
        int32_t result;
    };
    std::vector<Fault> faults{
        {0, true, false, ENOSPC, 12}, {0, false, true, EACCES, 1}, {1, false, false, EDQUOT, 12}};
    for (int n = 1; n <= positions; ++n)
        faults.push_back({n, false, false, ENOSPC, 12});
    for (const Fault& f : faults) {
        kxtest::TraceCapture trace;
        env.writes = 0, env.failWrite = f.write, env.failSync = f.sync, env.failRename = f.rename;
        env.error = f.error;
        EXPECT_EQ(f.result, SaveContentToBackupFile({&c, &c}, dir)) << f.write;
        EXPECT_EQ(previous, FileBytes(People())) << f.write;
        EXPECT_EQ(1u, FilesIn(folder.path())) << f.write;
        EXPECT_EQ(1u, trace
                          .LinesWith({"Function = CKXFakePhone::SaveContentToBackupFile GetLastError = " +
                                      std::to_string(f.error) + "\r\n"})
                          .size());
    }
    env.failWrite = 0, env.failSync = env.failRename = false;
    kxtest::TraceCapture trace;
    c.SetPicturePath(u"/no/such/picture.png");
    EXPECT_EQ(1, SaveContentToBackupFile({&c}, dir));
    EXPECT_EQ(previous, FileBytes(People()));
    EXPECT_EQ(1u,
              trace
                  .LinesWith({"[Caller=CKXFakePhone::SaveToFile],[Action=Error],[Function=Can't CreateFile "
                              "For Read]"})
                  .size());
}

// Every prefix of a real file and random byte flips: never a crash, a prefix always fails, and a
// failed load leaves no picture file of the record it was reading.
TEST_F(BackupFile, DamagedFilesFailCleanly) {
    ContactRecord c = FullContact(Picture(40));
    CalendarRecord e = FullEvent();
    ASSERT_EQ(KX_OK, SaveContentToBackupFile({&c, &c}, dir));
    ASSERT_EQ(KX_OK, SaveCalendarToBackupFile({&e, &e}, dir));
    // Result and records loaded; the pictures of loaded contacts are removed at once.
    auto load = [&](bool calendar, size_t* n) {
        RecordList<ContactRecord> contacts;
        RecordList<CalendarRecord> events;
        int32_t r =
            calendar ? LoadCalendarFromBackupFile(&events, dir) : LoadContentFromBackupFile(&contacts, dir);
        *n = contacts.size() + events.size();
        for (ContactRecord* x : contacts)
            RemovePictureFile(x->PictureHolder()->strFilePath);
        return r;
    };
    std::mt19937 random(7);
    for (bool calendar : {false, true}) {
        const std::string path = calendar ? Calendar() : People(), whole = FileBytes(path);
        size_t n;
        for (size_t len = 0; len < whole.size(); ++len) {
            WriteAll(path, whole.substr(0, len));
            ASSERT_EQ(1, load(calendar, &n)) << len;
            ASSERT_LE(n, 1u);
            ASSERT_EQ(0u, FilesIn(env.Pictures())) << len;
        }
        for (int round = 0; round < 200; ++round) {
            std::string bytes = whole;
            for (int k = 0; k < 3; ++k)
                bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
            WriteAll(path, bytes);
            int32_t r = load(calendar, &n);
            ASSERT_TRUE(r == KX_OK || r == KX_FAILED);
            ASSERT_EQ(0u, FilesIn(env.Pictures()));
        }
    }
}

} // namespace
