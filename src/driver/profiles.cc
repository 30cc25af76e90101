// GetProfile: the records that describe each data type's fields and limits to the host.
#include "driver/profile_store.h"

#include <algorithm>
#include <cstring>

#include "driver/app.h"
#include "driver/tag_parser.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "trace/trace.h"

namespace {

// The order, names and identifiers are what the host parses ("Annivery" and the two "h" too).
const ContactFieldSpec kContactFields[] = {
    {u"First Name", 1, 200},
    {u"Last Name", 2, 200},
    {u"Job Title", 4015, 200},
    {u"Company Name", 4004, 200},
    {u"AIM", 4023, 200},
    {u"Windows Live", 4024, 200},
    {u"Yahoo", 4025, 200},
    {u"Skype", 4026, 200},
    {u"QQ", 4027, 200},
    {u"Google Talk", 4028, 200},
    {u"ICQ", 4029, 200},
    {u"Jabber", 4030, 200},
    {u"IMA", 4022, 200},
    {u"Business Country", 2016, 200},
    {u"Business State", 2013, 200},
    {u"Business City", 2012, 200},
    {u"Business Street", 2010, 200},
    {u"Business PoBox", 2021, 200},
    {u"Business Zip", 2014, 200},
    {u"Home Country", 2008, 200},
    {u"Home State", 2005, 200},
    {u"Home City", 2004, 200},
    {u"Home Street", 2002, 200},
    {u"Home PoBox", 2019, 200},
    {u"Home Zip", 2006, 200},
    {u"Other Country", 2038, 200},
    {u"Other State", 2035, 200},
    {u"Other City", 2034, 200},
    {u"Other Street", 2032, 200},
    {u"Other PoBox", 2030, 200},
    {u"Other Zip", 2036, 200},
    {u"Business Fax", 112, 200},
    {u"Home", 102, 200},
    {u"Home Fax", 111, 200},
    {u"Mobile", 104, 200},
    {u"Pager", 106, 200},
    {u"Business", 100, 200},
    {u"Email1", 1000, 200},
    {u"Email2", 1001, 200},
    {u"Email3", 1002, 200},
    {u"Notes", 3002, 1024},
    {u"Birthday", 4003, 200},
    {u"Annivery", 4019, 200},
    {u"Home2", 103, 200},
    {u"Work2", 101, 200},
    {u"a", 3018, 2048},
    {u"b", 108, 200},
    {u"c", 116, 200},
    {u"d", 117, 200},
    {u"e", 114, 200},
    {u"f", 119, 200},
    {u"g", 4037, 200},
    {u"h", 4038, 200},
    {u"h", 1500, 200},
};
constexpr int32_t kContactFieldCount = sizeof(kContactFields) / sizeof(kContactFields[0]);
static_assert(kContactFieldCount == 54, "the Phone storage describes 54 fields");

constexpr uint32_t kPhoneStorageFlags = 727;

// Copies text (NUL-ended) into a fixed array, cut to its room.
template <size_t N> void CopyText(KXChar (&target)[N], const std::u16string& text) {
    size_t n = std::min(text.size(), N - 1);
    std::copy(text.begin(), text.begin() + n, target);
    std::fill(target + n, target + N, u'\0');
}

KXContactEntry* NewEntry(int32_t id, uint32_t mask, int32_t v1, int32_t v2) {
    auto* e = new KXContactEntry;
    e->entryId = id;
    e->mask = mask;
    e->value1 = v1;
    e->value2 = v2;
    return e;
}

KXMediaFormat* NewMediaFormat(int32_t id, const char16_t* extension) {
    auto* f = new KXMediaFormat;
    f->id = id;
    f->extension = extension;
    return f;
}

} // namespace

std::u16string ProfileStore::FieldText(uint32_t storageFlags) {
    std::u16string text = u"First Name,Last Name,";
    for (int i = 0; i < 51; ++i)
        text += u"Type,Info,";
    text += u'\0';
    for (const auto& f : kContactFields) {
        text += f.name;
        text += u",(";
        text += f.name;
        text += u"),";
    }
    text += u'\0';
    for (const auto& f : kContactFields)
        text += platform::Format(u"%d,", f.id);
    text += u'\0';
    for (const auto& f : kContactFields)
        text += platform::Format(u"%d,", f.maxLength);
    text += u'\0';
    if (storageFlags & KX_STORAGE_GROUPS) {
        text +=
            u"Group,0[3],5,Normal,2,Family,3,Friend,4,VIP,10,Schoolfellow,6,Work,11,Customise1,12,Customise2";
        text += u'\0';
    }
    if (storageFlags & KX_STORAGE_RANGE) {
        text += u"0,0,499";
        text += u'\0';
    }
    return text;
}

const ContactFieldSpec* ProfileStore::ContactFields(size_t* count) {
    *count = kContactFieldCount;
    return kContactFields;
}

int32_t ProfileStore::PlatformClassFromSdk(int32_t sdk, int32_t current) {
    switch (sdk) {
    case 3:
        return 0;
    case 4:
        return 1;
    case 5:
        return 2;
    case 6:
        return 4;
    case 7:
        return 3;
    case 8:
        return 5;
    default:
        return current;
    }
}

KXContactProfile* ProfileStore::BuildContactProfile() {
    for (KXContactStorage* s : contact_.storages)
        delete s;
    contact_.storages.clear();
    contact_.version = 100;
    contact_.flags = 0x60000;
    CopyText(contact_.text, u"0[2,3,4,8],0,19,104,105,108");

    auto* storage = new KXContactStorage;
    storage->storageNumber = 1;
    CopyText(storage->name, u"Phone");
    storage->flags = kPhoneStorageFlags;
    storage->word2 = 52;
    storage->fieldCount = kContactFieldCount;
    storage->word4 = 2 * storage->word2 + 2;
    storage->word5 = 2;
    storage->word6 = 2;
    storage->entries.push_back(NewEntry(1, 0xFFFF, 0, 0));
    storage->entries.push_back(NewEntry(2, 0xCFFF3, 0, 13));
    if (storage->flags & KX_STORAGE_ENTRY3)
        storage->entries.push_back(NewEntry(3, 196605, 0, 3));
    if (storage->flags & KX_STORAGE_ENTRY4)
        storage->entries.push_back(NewEntry(4, 0, 0, 0));
    storage->fieldText = new KXChar[KX_FIELD_TEXT_CHARS]();
    std::u16string fields = FieldText(storage->flags);
    std::copy(fields.begin(), fields.begin() + std::min<size_t>(fields.size(), KX_FIELD_TEXT_CHARS - 1),
              storage->fieldText);
    contact_.storages.push_back(storage);
    return &contact_;
}

KXCalendarProfile* ProfileStore::BuildCalendarProfile() {
    for (KXCalendarKind* k : calendar_.kinds)
        delete k;
    calendar_.kinds.clear();
    calendar_.text1.clear();
    calendar_.text2.clear();
    calendar_.text3.clear();
    calendar_.ringNames.clear();
    calendar_.reminderMinutes.clear();

    calendar_.version = 100;
    calendar_.flags = 0x8C07;
    const struct {
        int32_t kind, size;
        uint32_t mask;
    } kinds[] = {{0, 500, 0x1BFFF7}, {1, 200, 0xEFCBB}, {2, 200, 0x4000}};
    for (const auto& k : kinds) {
        auto* record = new KXCalendarKind;
        record->kind = k.kind;
        record->sizeValue = k.size;
        record->mask = k.mask;
        calendar_.kinds.push_back(record);
    }
    for (int i = 1; i <= 4; ++i)
        calendar_.ringNames.push_back(platform::Format(u"Calendar Ring %03d", i));
    for (int m = 5; m <= 15; m += 10)
        calendar_.reminderMinutes.push_back(m);
    for (int m = 30; m <= 120; m += 30)
        calendar_.reminderMinutes.push_back(m);
    return &calendar_;
}

KXDeviceProfile* ProfileStore::BuildDeviceProfile() {
    device_.version = 100;
    device_.value1 = 10335;
    device_.value2 = 2;
    device_.value3 = 50000;
    device_.value4 = 3000;
    device_.detectLibrary = u"KXDetectComm.dll";
    CopyText(device_.text, u"");
    return &device_;
}

KXMediaProfile* ProfileStore::BuildMediaProfile() {
    for (auto* list : {&media_.pictureFormats, &media_.soundFormats}) {
        for (KXMediaFormat* f : *list)
            delete f;
        list->clear();
    }
    for (KXMediaSize* s : media_.pictureSizes)
        delete s;
    media_.pictureSizes.clear();

    media_.flags = 8;
    media_.pictureFormats = {NewMediaFormat(0x10001, u"bmp"), NewMediaFormat(0x10002, u"jpg"),
                             NewMediaFormat(0x10004, u"gif"), NewMediaFormat(0x10003, u"png")};
    auto* size = new KXMediaSize;
    size->kind = 2;
    size->width = 128;
    size->height = 128;
    media_.pictureSizes.push_back(size);
    media_.pictureValue = -1;
    media_.pictureRect = {0, 0, 160, 120};
    media_.soundFormats = {NewMediaFormat(0x20001, u"mid"), NewMediaFormat(0x20002, u"wav"),
                           NewMediaFormat(0x20003, u"mp3")};
    media_.soundValue = -1;
    media_.soundRect = {0, 120, 160, 160};
    media_.value3 = 20;
    media_.value4 = -1;
    media_.value5 = -1;
    media_.screenRect = {0, 0, 160, 160};
    media_.dialCharacters = u"0123456789*pwn#+";
    return &media_;
}

namespace {

// Type 1: takes the host's description (the slot's value on entry) apart before answering.
int32_t DeviceProfile(CKXFakePhone& phone, uintptr_t* slot) {
    const KXChar* description = reinterpret_cast<const KXChar*>(*slot);
    std::u16string text = platform::FromHostText(description);
    phone.m_SampleStore.SetMailFolderDescription(
        CTagParser::TagText(text, u"<emailfolder>", u"</emailfolder>"));
    CTagParser parser;
    parser.ParseRoleString(CTagParser::TagText(text, u"<kernelinfo>", u"</kernelinfo>"));
    int32_t sdk = parser.GetInt(u"sdk");
    phone.SdkVersion = sdk;
    phone.ProductId = parser.GetInt(u"pid");
    phone.PlatformClass = ProfileStore::PlatformClassFromSdk(sdk, phone.PlatformClass.load());
    *slot = reinterpret_cast<uintptr_t>(phone.m_Profiles.BuildDeviceProfile());
    return KX_OK;
}

} // namespace

int32_t CKXFakePhone::GetProfile(int32_t type, uintptr_t out) {
    uintptr_t* slot = reinterpret_cast<uintptr_t*>(out);
    if (type == KX_TYPE_PHONE_INFO && (!slot || !*slot))
        return 15;
    bool known = type == KX_TYPE_PHONE_INFO || type == KX_TYPE_CONTACT || type == KX_TYPE_MESSAGE ||
                 type == KX_TYPE_RINGTONE || type == KX_TYPE_PICTURE || type == KX_TYPE_MEDIA ||
                 type == KX_TYPE_CALENDAR || type == KX_TYPE_PROFILE_ONLY || type == KX_TYPE_PICTURE2 ||
                 type == KX_TYPE_FILE || type == KX_TYPE_EMAIL;
    if (!known)
        return KX_OK;
    // Nowhere to put the answer: say so instead of writing through a null pointer.
    if (!slot) {
        KX_TRACE_ERROR(u"CKXFakePhone::GetProfile", u"GetProfile without a slot for the answer");
        return KX_INVALID_ARGUMENT;
    }
    switch (type) {
    case KX_TYPE_PHONE_INFO:
        return DeviceProfile(*this, slot);
    case KX_TYPE_CONTACT:
        *slot = reinterpret_cast<uintptr_t>(m_Profiles.BuildContactProfile());
        return KX_OK;
    case KX_TYPE_CALENDAR:
        *slot = reinterpret_cast<uintptr_t>(m_Profiles.BuildCalendarProfile());
        return KX_OK;
    case KX_TYPE_MEDIA:
        *slot = reinterpret_cast<uintptr_t>(m_Profiles.BuildMediaProfile());
        return KX_OK;
    case KX_TYPE_MESSAGE:
        return m_SampleStore.MessageProfile(slot);
    case KX_TYPE_EMAIL:
        return m_SampleStore.MailboxProfile(slot);
    default: // 4, 5, 10, 11, 13
        *slot = reinterpret_cast<uintptr_t>(m_SampleStore.FolderProfile());
        return KX_OK;
    }
}
