#include <gtest/gtest.h>

#include <cstring>

#include <kxphone/profiles.h>

#include "driver/app.h"
#include "driver/profile_store.h"
#include "driver/tag_parser.h"
#include "sample_store_fixture.h"

namespace {

using kxtest::DriverDirTest;

// The field text block as its NUL-separated parts (up to the first empty part).
std::vector<std::u16string> Parts(const KXChar* block, size_t room) {
    std::vector<std::u16string> parts;
    size_t at = 0;
    while (at < room && block[at] != u'\0') {
        std::u16string part(block + at);
        at += part.size() + 1;
        parts.push_back(part);
    }
    return parts;
}

std::u16string S(const char* ascii) {
    return std::u16string(ascii, ascii + std::strlen(ascii));
}

template <class T> T* GetProfileOf(int32_t type) {
    uintptr_t slot = 0;
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(type, reinterpret_cast<uintptr_t>(&slot)), KX_OK);
    return reinterpret_cast<T*>(slot);
}

// The numbers of the profile are the code's own table; the texts are what the host parses.
// Asked twice: rebuilt in place, still with one storage of four entries and the same texts.
TEST(ContactProfile, TextsEntriesAndFieldTextParts) {
    auto* first = GetProfileOf<KXContactProfile>(KX_TYPE_CONTACT);
    auto* profile = GetProfileOf<KXContactProfile>(KX_TYPE_CONTACT);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(first, profile);
    EXPECT_EQ(std::u16string(profile->text), u"0[2,3,4,8],0,19,104,105,108");
    ASSERT_EQ(profile->storages.size(), 1u);
    const KXContactStorage& s = *profile->storages[0];
    EXPECT_EQ(std::u16string(s.name), u"Phone");
    EXPECT_EQ(s.inlineText[0], u'\0');
    std::vector<int32_t> ids;
    for (const auto* e : s.entries)
        ids.push_back(e->entryId);
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4}));

    std::vector<std::u16string> parts = Parts(s.fieldText, KX_FIELD_TEXT_CHARS);
    ASSERT_EQ(parts.size(), 6u);

    std::u16string kinds = u"First Name,Last Name,";
    for (int i = 0; i < 51; ++i)
        kinds += u"Type,Info,";
    EXPECT_EQ(parts[0], kinds);

    // The host parses these names as they are, typos and the two "h" included.
    EXPECT_EQ(parts[1],
              u"First Name,(First Name),Last Name,(Last Name),Job Title,(Job Title),"
              u"Company Name,(Company Name),AIM,(AIM),Windows Live,(Windows Live),Yahoo,(Yahoo),"
              u"Skype,(Skype),QQ,(QQ),Google Talk,(Google Talk),ICQ,(ICQ),Jabber,(Jabber),IMA,(IMA),"
              u"Business Country,(Business Country),Business State,(Business State),"
              u"Business City,(Business City),Business Street,(Business Street),"
              u"Business PoBox,(Business PoBox),Business Zip,(Business Zip),Home Country,(Home Country),"
              u"Home State,(Home State),Home City,(Home City),Home Street,(Home Street),"
              u"Home PoBox,(Home PoBox),Home Zip,(Home Zip),Other Country,(Other Country),"
              u"Other State,(Other State),Other City,(Other City),Other Street,(Other Street),"
              u"Other PoBox,(Other PoBox),Other Zip,(Other Zip),Business Fax,(Business Fax),Home,(Home),"
              u"Home Fax,(Home Fax),Mobile,(Mobile),Pager,(Pager),Business,(Business),Email1,(Email1),"
              u"Email2,(Email2),Email3,(Email3),Notes,(Notes),Birthday,(Birthday),Annivery,(Annivery),"
              u"Home2,(Home2),Work2,(Work2),a,(a),b,(b),c,(c),d,(d),e,(e),f,(f),g,(g),h,(h),h,(h),");

    EXPECT_EQ(parts[2],
              S("1,2,4015,4004,4023,4024,4025,4026,4027,4028,4029,4030,4022,2016,2013,2012,2010,2021,"
                "2014,2008,2005,2004,2002,2019,2006,2038,2035,2034,2032,2030,2036,112,102,111,104,106,"
                "100,1000,1001,1002,3002,4003,4019,103,101,3018,108,116,117,114,119,4037,4038,1500,"));
    std::u16string maxima;
    for (int i = 1; i <= 54; ++i)
        maxima += i == 41 ? u"1024," : i == 46 ? u"2048," : u"200,";
    EXPECT_EQ(parts[3], maxima);
    EXPECT_EQ(parts[4],
              u"Group,0[3],5,Normal,2,Family,3,Friend,4,VIP,10,Schoolfellow,6,Work,11,Customise1,12,"
              u"Customise2");
    EXPECT_EQ(parts[5], u"0,0,499");
}

TEST(ContactProfile, GroupsAndRangeFollowTheStorageFlags) {
    const struct {
        uint32_t flags;
        size_t parts;
        bool groups, range;
    } cases[] = {{0, 4, false, false},
                 {KX_STORAGE_GROUPS, 5, true, false},
                 {KX_STORAGE_RANGE, 5, false, true},
                 {727, 6, true, true},
                 {KX_STORAGE_ENTRY3 | KX_STORAGE_ENTRY4, 4, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        std::u16string text = ProfileStore::FieldText(c.flags);
        std::vector<std::u16string> parts = Parts(text.c_str(), text.size());
        ASSERT_EQ(parts.size(), c.parts);
        EXPECT_EQ(parts.size() > 4 && parts[4].rfind(u"Group,", 0) == 0, c.groups);
        EXPECT_EQ(parts.back() == u"0,0,499", c.range);
    }
}

// Rebuilding a profile does not add to its lists; the names are what the host shows.
TEST(CalendarAndMediaProfiles, NamesAndExtensions) {
    auto* calendar = GetProfileOf<KXCalendarProfile>(KX_TYPE_CALENDAR);
    GetProfileOf<KXCalendarProfile>(KX_TYPE_CALENDAR);
    EXPECT_EQ(calendar->kinds.size(), 3u);
    EXPECT_EQ(calendar->ringNames, (std::vector<std::u16string>{u"Calendar Ring 001", u"Calendar Ring 002",
                                                                u"Calendar Ring 003", u"Calendar Ring 004"}));
    EXPECT_EQ(calendar->reminderMinutes.size(), 6u);

    auto* m = GetProfileOf<KXMediaProfile>(KX_TYPE_MEDIA);
    GetProfileOf<KXMediaProfile>(KX_TYPE_MEDIA);
    std::u16string extensions;
    for (const auto* f : m->pictureFormats)
        extensions += f->extension + u",";
    for (const auto* f : m->soundFormats)
        extensions += f->extension + u",";
    EXPECT_EQ(extensions, u"bmp,jpg,gif,png,mid,wav,mp3,");
    EXPECT_EQ(m->pictureSizes.size(), 1u);
    EXPECT_EQ(m->dialCharacters, u"0123456789*pwn#+");
}

TEST(Profiles, OtherTypesAndMissingSlot) {
    uintptr_t slot = 0x1234;
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(9, reinterpret_cast<uintptr_t>(&slot)), KX_OK);
    EXPECT_EQ(slot, 0x1234u);
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(9, 0), KX_OK);
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(KX_TYPE_CONTACT, 0), KX_INVALID_ARGUMENT);

    // Every folder type answers with the one folder profile.
    auto* folders = GetProfileOf<KXFolderProfile>(KX_TYPE_RINGTONE);
    for (int32_t type : {5, 10, 11, 13})
        EXPECT_EQ(GetProfileOf<KXFolderProfile>(type), folders);
}

// --- device profile and the host's description ---

class DeviceProfileTest : public DriverDirTest {};

TEST_F(DeviceProfileTest, NullSlotGives15AndChangesNothing) {
    theApp.m_FakePhone.ProductId = 77;
    uintptr_t slot = 0;
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(KX_TYPE_PHONE_INFO, reinterpret_cast<uintptr_t>(&slot)), 15);
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(theApp.m_FakePhone.GetProfile(KX_TYPE_PHONE_INFO, 0), 15);
    EXPECT_EQ(theApp.m_FakePhone.ProductId.load(), 77);
}

TEST_F(DeviceProfileTest, DescriptionSetsProductPlatformAndMailFolders) {
    const KXChar* description = u"<device><emailfolder>Inbox,Sent;Work</emailfolder>"
                                u"<kernelinfo>model=X\\;1;sdk=7;pid=3574</kernelinfo></device>";
    uintptr_t slot = reinterpret_cast<uintptr_t>(description);
    theApp.m_FakePhone.PlatformClass = 5;
    ASSERT_EQ(theApp.m_FakePhone.GetProfile(KX_TYPE_PHONE_INFO, reinterpret_cast<uintptr_t>(&slot)), KX_OK);
    auto* device = reinterpret_cast<KXDeviceProfile*>(slot);
    EXPECT_EQ(device->detectLibrary, u"KXDetectComm.dll");
    EXPECT_EQ(theApp.m_FakePhone.ProductId.load(), 3574);
    EXPECT_EQ(theApp.m_FakePhone.PlatformClass.load(), 3);
    EXPECT_EQ(theApp.m_FakePhone.m_SampleStore.MailFolderDescription(), u"Inbox,Sent;Work");

    // Without pid and with an unknown sdk: product -1, class kept.
    const KXChar* bare = u"<kernelinfo>sdk=10</kernelinfo>";
    slot = reinterpret_cast<uintptr_t>(bare);
    ASSERT_EQ(theApp.m_FakePhone.GetProfile(KX_TYPE_PHONE_INFO, reinterpret_cast<uintptr_t>(&slot)), KX_OK);
    EXPECT_EQ(theApp.m_FakePhone.ProductId.load(), -1);
    EXPECT_EQ(theApp.m_FakePhone.PlatformClass.load(), 3);
    EXPECT_EQ(theApp.m_FakePhone.m_SampleStore.MailFolderDescription(), u"");
    theApp.m_FakePhone.PlatformClass = 5;
    theApp.m_FakePhone.ProductId = 0;
}

TEST_F(DeviceProfileTest, RoleStringEscapesAndItemsWithoutEquals) {
    CTagParser parser;
    EXPECT_EQ(parser.ParseRoleString(u"a\\=b=c=d;path=C:\\\\dir;list=x\\;y;novalue;;sdk= 8x;n=-12"), 5);
    // An escaped "=" stays in the key, split at the next; "novalue" has no item.
    const std::u16string keys[] = {u"a=b", u"path", u"list", u"sdk", u"n", u"missing", u"novalue"};
    std::u16string texts;
    std::vector<int32_t> numbers;
    for (const std::u16string& key : keys) {
        texts += parser.GetText(key) + u"|";
        numbers.push_back(parser.GetInt(key));
    }
    EXPECT_EQ(texts, u"c=d|C:\\dir|x;y| 8x|-12|||");
    EXPECT_EQ(numbers, (std::vector<int32_t>{0, 0, 0, 8, -12, -1, -1}));
    EXPECT_FALSE(parser.Has(u"novalue")); // its error line: the test below
}

TEST_F(DeviceProfileTest, RoleStringErrorLinePerSkippedItem) {
    const std::pair<const char16_t*, size_t> cases[] = {// text, error lines (one per skipped item)
                                                        {u"", 0},         {u"a=1", 0}, {u"a=1;", 1},
                                                        {u"a=1;;b=2", 1}, {u";", 2},   {u"a\\;=1;b", 1}};
    for (size_t i = 0, before = 0, now; i < std::size(cases); ++i, before = now) {
        CTagParser().ParseRoleString(cases[i].first);
        now = trace_.LinesWith({" : Function = CTagParser::ParseRoleString "}).size();
        EXPECT_EQ(now - before, cases[i].second) << i;
    }
}

// --- folder profile of the sample store ---

TEST(FolderProfile, FoldersAndFormatsInPlace) {
    auto* p = GetProfileOf<KXFolderProfile>(KX_TYPE_PICTURE);
    GetProfileOf<KXFolderProfile>(KX_TYPE_PICTURE);
    EXPECT_EQ(p->formats.size(), 7u);
    EXPECT_EQ(p->formats[3]->extension, u"DAT");
    std::u16string names;
    for (const auto* list : {&p->ringtoneFolders, &p->pictureFolders, &p->movieFolders, &p->folders4,
                             &p->folders5, &p->folders6, &p->folders7, &p->lastFolders})
        for (const auto* f : *list)
            names += f->name + u",";
    for (const auto* list : {&p->categories1, &p->categories2})
        for (const auto* c : *list)
            names += c->name + u",";
    EXPECT_EQ(names,
              u"Ring Download,Pic Download,Movie Download,Messaging,Voice mail,Wallpaper,Screen Saver,");
    EXPECT_EQ(p->sizes.size(), 3u);
}

TEST(MailAndMessageProfiles, FoldersTheStoresName) {
    auto* mail = GetProfileOf<KXMailboxProfile>(KX_TYPE_EMAIL);
    std::vector<std::u16string> names;
    for (auto* f : mail->folders)
        names.push_back(f->name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Inbox", u"Outbox", u"Sent", u"Draft", u"Deleted",
                                                  u"My Box1", u"My Box2"}));
    ASSERT_EQ(mail->folders[6]->subfolders.size(), 2u);
    EXPECT_EQ(mail->folders[0]->messageCount, 2);
    auto* messages = GetProfileOf<KXMessageProfile>(KX_TYPE_MESSAGE);
    ASSERT_EQ(messages->folders.size(), 3u);
    EXPECT_EQ(messages->folders[2]->name, u"Draft");
}

} // namespace
