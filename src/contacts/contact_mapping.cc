#include "contacts/contact_mapping.h"

#include <kxphone/contact_record.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "contacts/contact_groups.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "sync/picture_file.h"
#include "sync/time_conversions.h"
#include "trace/trace.h"
#include "transport/base64.h"
#include "transport/text_encoding.h"

namespace kxconv {

namespace {

const char16_t kCaller[] = u"kxconv::ToContactEx";

const char kName[] = "vnd.android.cursor.item/name";
const char kOrganization[] = "vnd.android.cursor.item/organization";
const char kPostal[] = "vnd.android.cursor.item/postal-address_v2";
const char kPhone[] = "vnd.android.cursor.item/phone_v2";
const char kEmail[] = "vnd.android.cursor.item/email_v2";
const char kIm[] = "vnd.android.cursor.item/im";
const char kNickname[] = "vnd.android.cursor.item/nickname";
const char kWebsite[] = "vnd.android.cursor.item/website";
const char kEvent[] = "vnd.android.cursor.item/contact_event";
const char kNote[] = "vnd.android.cursor.item/note";
const char kGroup[] = "vnd.android.cursor.item/group_membership";
const char kPhoto[] = "vnd.android.cursor.item/photo";

const char16_t kFavorite[] = u"Vexo Favorite";

// Address parts in the order of their keys: street, neighbourhood, post-office box, city,
// region, postal code, country.
const char* const kAddressKeys[7] = {"data4", "data6", "data5", "data7", "data8", "data9", "data10"};
struct AddressBlock {
    const char* kind; // "data2"
    int32_t types[7];
};
const AddressBlock kAddressBlocks[3] = {
    {"1", {2002, 2003, 2019, 2004, 2005, 2006, 2008}},
    {"2", {2010, 2011, 2021, 2012, 2013, 2014, 2016}},
    {"3", {2032, 2033, 2030, 2034, 2035, 2036, 2038}},
};

// Phone types and the handset's "data2", both ways. A kind listed twice (home, work) reads its
// first number as the first type and its second as the second, and drops the rest; a kind listed
// once reads every number as its type.
struct PhoneType {
    int32_t type;
    int32_t kind;
};
const PhoneType kPhoneTypes[] = {
    {KX_CF_HOME_PHONE, 1},  {KX_CF_HOME_PHONE2, 1}, {KX_CF_MOBILE, 2},        {KX_CF_WORK_PHONE, 3},
    {KX_CF_WORK_PHONE2, 3}, {KX_CF_WORK_FAX, 4},    {KX_CF_HOME_FAX, 5},      {KX_CF_PAGER, 6},
    {KX_CF_OTHER_PHONE, 7}, {KX_CF_CAR_PHONE, 9},   {KX_CF_COMPANY_MAIN, 10}, {KX_CF_RADIO, 14},
    {KX_CF_ASSISTANT, 19},
};
constexpr size_t kPhoneTypeCount = sizeof kPhoneTypes / sizeof kPhoneTypes[0];

// A phone type is the primary number unless the record has one of these (0 ends the list).
struct PrimaryPhoneRule {
    int32_t type;
    int32_t unless[12];
};
const PrimaryPhoneRule kPrimaryPhoneRules[] = {
    {104, {0}},
    {116, {104, 0}},
    {100, {104, 116, 0}},
    {101, {104, 116, 100, 0}},
    {102, {104, 116, 100, 101, 0}},
    {103, {104, 116, 102, 100, 101, 0}},
    {106, {104, 116, 102, 103, 100, 101, 0}},
    {108, {104, 116, 102, 103, 106, 100, 101, 0}},
    {117, {104, 116, 102, 108, 103, 106, 100, 101, 0}},
    {114, {104, 116, 102, 108, 103, 117, 106, 100, 101, 0}},
    {119, {104, 116, 102, 114, 108, 103, 117, 106, 100, 101, 0}},
    {112, {104, 116, 102, 114, 108, 103, 117, 106, 100, 101, 0}},
    {111, {104, 116, 102, 114, 108, 112, 103, 117, 106, 100, 101, 0}},
};

const Json::Value& Null() {
    static const Json::Value null;
    return null;
}

// The member of an object, or null.
const Json::Value& Member(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return Null();
    const Json::Value* v = object.find(key, key + std::strlen(key));
    return v ? *v : Null();
}
fastjson::Value Member(const fastjson::Value& object, const char* key) {
    return object.member(key);
}

// A scalar as UTF-8 without copying strings; numbers and booleans in their text form.
bool Utf8Of(const Json::Value& v, const char** begin, const char** end, std::string* scratch) {
    if (v.getString(begin, end))
        return true;
    if (v.isNumeric() || v.isBool()) {
        *scratch = v.asString();
        *begin = scratch->data();
        *end = scratch->data() + scratch->size();
        return true;
    }
    return false;
}
bool Utf8Of(const fastjson::Value& v, const char** begin, const char** end, std::string*) {
    return v.scalarText(begin, end);
}

// Texts of the contact being converted that were not UTF-8: the host gets U+FFFD in place of each
// bad sequence, and the contact's conversion traces that it did.
thread_local int tBadTexts = 0;

template <class V> std::u16string Wide(const V& v) {
    const char *b, *e;
    std::string scratch;
    if (!Utf8Of(v, &b, &e, &scratch))
        return std::u16string();
    if (!platform::IsValidUtf8(b, static_cast<size_t>(e - b)))
        ++tBadTexts;
    return Utf8ToWide(b, static_cast<size_t>(e - b));
}

template <class V> std::u16string WideMember(const V& object, const char* key) {
    return Wide(Member(object, key));
}

template <class V> bool Equals(const V& v, const char* text) {
    const char *b, *e;
    return v.getString(&b, &e) && static_cast<size_t>(e - b) == std::strlen(text) &&
           std::memcmp(b, text, static_cast<size_t>(e - b)) == 0;
}

void AppendGroup(std::u16string* groups, const std::u16string& title) {
    if (!groups->empty())
        groups->push_back(u';');
    groups->append(title);
}

bool WritePicture(const std::string& bytes, std::u16string* path, bool shared) {
    return WritePictureFile(kCaller, bytes, path, shared);
}

// The picture file's bytes when it exists and is smaller than the limit.
bool ReadPicture(const std::u16string& path, std::string* bytes) {
    const std::string name = WideToUtf8(path);
    // Opening a pipe or a device could block for ever or never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(name), ec))
        return false;
    std::FILE* f = platform::OpenFile(name, "rb");
    if (!f)
        return false;
    bool ok = false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long size = std::ftell(f);
        if (size > 0 && size < kMaxPictureBytes && std::fseek(f, 0, SEEK_SET) == 0) {
            bytes->resize(static_cast<size_t>(size));
            bytes->resize(std::fread(&(*bytes)[0], 1, bytes->size(), f));
            ok = !bytes->empty();
        }
    }
    std::fclose(f);
    return ok;
}

Json::Value Row(const char* mimetype, std::string data1) {
    Json::Value row(Json::objectValue);
    row["data1"] = std::move(data1);
    row["mimetype"] = mimetype;
    return row;
}

void MarkPrimary(Json::Value* row) {
    (*row)["is_primary"] = "1";
    (*row)["is_super_primary"] = "1";
}

bool PhoneQualifies(const ContactRecord& record, int32_t type) {
    for (const PrimaryPhoneRule& rule : kPrimaryPhoneRules) {
        if (rule.type != type)
            continue;
        for (const int32_t* other = rule.unless; *other; ++other)
            if (record.HasField(*other))
                return false;
        return true;
    }
    return false;
}

bool EmailQualifies(const ContactRecord& record, int32_t type) {
    switch (type) {
    case KX_CF_EMAIL:
        return true;
    case KX_CF_EMAIL2:
        return !record.HasField(KX_CF_EMAIL);
    case KX_CF_EMAIL3:
        return !record.HasField(KX_CF_EMAIL) && !record.HasField(KX_CF_EMAIL2);
    default:
        return false;
    }
}

const PhoneType* FindPhoneType(int32_t type) {
    for (const PhoneType& p : kPhoneTypes)
        if (p.type == type)
            return &p;
    return nullptr;
}

// The type of a received number of kind, given how many of that kind came before (counted per
// first table entry of the kind in seen); 0 when the number has no place.
int32_t PhoneTypeOfKind(int32_t kind, int seen[kPhoneTypeCount]) {
    size_t first = kPhoneTypeCount;
    int entries = 0;
    int32_t nth = 0;
    for (size_t i = 0; i < kPhoneTypeCount; ++i) {
        if (kPhoneTypes[i].kind != kind)
            continue;
        if (first == kPhoneTypeCount)
            first = i;
        if (entries++ == seen[first])
            nth = kPhoneTypes[i].type;
    }
    if (first == kPhoneTypeCount)
        return 0;
    if (entries == 1)
        return kPhoneTypes[first].type;
    if (seen[first] < entries)
        ++seen[first];
    return nth;
}

// Where an address part goes: block and key index, or false.
bool FindAddressPart(int32_t type, int* block, int* part) {
    for (int b = 0; b < 3; ++b)
        for (int p = 0; p < 7; ++p)
            if (kAddressBlocks[b].types[p] == type) {
                *block = b;
                *part = p;
                return true;
            }
    return false;
}

// Reads one "__data" row into the record.
struct RowReader {
    ContactRecord* record = nullptr;
    ContactGroupCache* groupCache = nullptr;
    std::u16string groups;
    int phonesOfKind[kPhoneTypeCount] = {};
    int emails = 0;
    bool hasPicture = false;
    std::string picture;

    template <class V> void Read(const V& row) {
        const auto& mimetype = Member(row, "mimetype");
        if (Equals(mimetype, kName)) {
            record->AddField(KX_CF_GIVEN_NAME, WideMember(row, "data2"));
            record->AddField(KX_CF_FAMILY_NAME, WideMember(row, "data3"));
            record->AddField(KX_CF_PHONETIC_GIVEN_NAME, WideMember(row, "data7"));
            record->AddField(KX_CF_PHONETIC_FAMILY_NAME, WideMember(row, "data9"));
        } else if (Equals(mimetype, kPhone)) {
            ReadPhone(row);
        } else if (Equals(mimetype, kEmail)) {
            std::u16string address = WideMember(row, "data1");
            if (address.empty())
                return;
            // From 1500 on the types mean other things (web site, addresses): a further address
            // would come back as one of those.
            if (KX_CF_EMAIL + emails >= KX_CF_WEB_SITE) {
                if (emails++ == KX_CF_WEB_SITE - KX_CF_EMAIL)
                    KX_TRACE_ERROR(kCaller, u"e-mail addresses past the 500th dropped");
                return;
            }
            record->AddField(KX_CF_EMAIL + emails++, std::move(address));
        } else if (Equals(mimetype, kGroup)) {
            std::u16string id = WideMember(row, "data1");
            std::u16string title;
            // A title the handset does not give is left out rather than kept as an empty
            // name, which a later write would turn into a nameless group.
            if (!id.empty() && groupCache->TitleOfId(id, &title) && !title.empty())
                AppendGroup(&groups, title);
        } else if (Equals(mimetype, kOrganization)) {
            record->AddField(KX_CF_COMPANY, WideMember(row, "data1"));
            record->AddField(KX_CF_JOB_TITLE, WideMember(row, "data4"));
        } else if (Equals(mimetype, kPostal)) {
            int32_t kind = CalConv::TextToNumber(WideMember(row, "data2"));
            if (kind < 1 || kind > 3)
                return;
            for (int p = 0; p < 7; ++p)
                record->AddField(kAddressBlocks[kind - 1].types[p], WideMember(row, kAddressKeys[p]));
        } else if (Equals(mimetype, kIm)) {
            ReadIm(row);
        } else if (Equals(mimetype, kNickname)) {
            record->AddField(KX_CF_NICKNAME, WideMember(row, "data1"));
        } else if (Equals(mimetype, kWebsite)) {
            record->AddField(KX_CF_WEB_SITE, WideMember(row, "data1"));
        } else if (Equals(mimetype, kEvent)) {
            int32_t kind = CalConv::TextToNumber(WideMember(row, "data2"));
            int32_t type = kind == 3 ? KX_CF_BIRTHDAY : kind == 1 ? KX_CF_ANNIVERSARY : 0;
            if (type)
                record->AddField(type, WideMember(row, "data1").substr(0, 10));
        } else if (Equals(mimetype, kNote)) {
            record->AddField(KX_CF_NOTE, platform::HostLines(WideMember(row, "data1")));
        } else if (Equals(mimetype, kPhoto)) {
            const char *b, *e;
            std::string scratch;
            if (Utf8Of(Member(row, "data15"), &b, &e, &scratch)) {
                std::string bytes = Base64Decode(b, static_cast<size_t>(e - b));
                if (!bytes.empty()) {
                    picture.swap(bytes);
                    hasPicture = true;
                }
            }
        }
    }

    template <class V> void ReadPhone(const V& row) {
        std::u16string number = WideMember(row, "data1");
        if (number.empty())
            return;
        int32_t type = PhoneTypeOfKind(CalConv::TextToNumber(WideMember(row, "data2")), phonesOfKind);
        if (type)
            record->AddField(type, number);
    }

    template <class V> void ReadIm(const V& row) {
        std::u16string protocol = WideMember(row, "data5");
        std::u16string address = WideMember(row, "data1");
        if (protocol.size() == 1 && protocol[0] >= u'0' && protocol[0] <= u'7') {
            record->AddField(KX_CF_IM_FIRST + (protocol[0] - u'0'), address);
            return;
        }
        std::u16string name = WideMember(row, "data6");
        if (!name.empty() || protocol == u"-1")
            record->AddField(KX_CF_IM_CUSTOM, name + u":" + address);
        else
            record->AddField(KX_CF_IM_CUSTOM, address);
    }
};

template <class V>
int ToContactFrom(const V& object, ContactRecord* record, ContactGroupCache& groups, bool passThrough) {
    if (!object.isObject() ||
        !platform::EqualsNoCase(platform::Trim(WideMember(object, "account_name")), u"pcsc"))
        return 0;
    record->dtLocation = 1;
    tBadTexts = 0;
    std::u16string id = WideMember(object, "__id");
    record->lPhoneMemory = CalConv::TextToNumber(id);
    record->strPIMID = id;
    KX_TRACE_INFO(kCaller, u"PIM ID=" + id);

    CalConv::MillisTextToDate(WideMember(object, "sync4"), false, &record->strLastModify);
    int32_t starred = CalConv::TextToNumber(WideMember(object, "starred"));

    RowReader reader;
    reader.record = record;
    reader.groupCache = &groups;
    const auto& rows = Member(object, "__data");
    if (rows.isArray()) {
        for (const auto& row : rows)
            if (row.isObject())
                reader.Read(row);
    }
    if (starred == 1)
        AppendGroup(&reader.groups, kFavorite);
    record->AddField(KX_CF_GROUPS, reader.groups);

    if (tBadTexts)
        KX_TRACE_ERROR(kCaller, platform::Format(u"PIM ID=%s: %d texts are not UTF-8, U+FFFD given in place",
                                                 id.c_str(), tBadTexts));
    std::u16string path;
    if (reader.hasPicture && WritePicture(reader.picture, &path, !passThrough))
        record->SetPicturePath(path);
    return 1;
}

} // namespace

int ToContactEx(const Json::Value& object, ContactRecord* record, ContactGroupCache& groups,
                bool passThrough) {
    return ToContactFrom(object, record, groups, passThrough);
}

int ToContactEx(const fastjson::Value& object, ContactRecord* record, ContactGroupCache& groups,
                bool passThrough) {
    return ToContactFrom(object, record, groups, passThrough);
}

int FromContactEx(const ContactRecord& record, Json::Value* object, int* count, ContactGroupCache& groups) {
    *count = 0;
    Json::Value name(Json::objectValue), organization(Json::objectValue);
    Json::Value address[3] = {Json::Value(Json::objectValue), Json::Value(Json::objectValue),
                              Json::Value(Json::objectValue)};
    Json::Value rows(Json::arrayValue);
    bool starred = false, phonePrimary = false, emailPrimary = false;

    for (int32_t i = 0; i < record.GetFieldCount(); ++i) {
        const ContactField* field = record.GetField(i);
        if (!field)
            continue;
        ++*count;
        const int32_t type = field->nType;
        std::string value = SentText(field->strData);
        int block, part;

        if (type == KX_CF_GIVEN_NAME) {
            name["data2"] = std::move(value);
        } else if (type == KX_CF_FAMILY_NAME) {
            name["data3"] = std::move(value);
        } else if (type == KX_CF_PHONETIC_GIVEN_NAME) {
            name["data7"] = std::move(value);
        } else if (type == KX_CF_PHONETIC_FAMILY_NAME) {
            name["data9"] = std::move(value);
        } else if (type == KX_CF_COMPANY) {
            organization["data1"] = std::move(value);
        } else if (type == KX_CF_JOB_TITLE) {
            organization["data4"] = std::move(value);
        } else if (FindAddressPart(type, &block, &part)) {
            address[block][kAddressKeys[part]] = std::move(value);
        } else if (type == KX_CF_GROUPS) {
            std::u16string titles = Utf8ToWide(value);
            size_t start = 0;
            while (true) {
                size_t end = titles.find(u';', start);
                std::u16string title = titles.substr(start, end == std::u16string::npos ? end : end - start);
                ++*count;
                std::u16string id;
                if (platform::EqualsNoCase(title, kFavorite))
                    starred = true;
                else if (!title.empty() && groups.IdOfTitle(title, &id) && !id.empty())
                    rows.append(Row(kGroup, WideToUtf8(id)));
                if (end == std::u16string::npos)
                    break;
                start = end + 1;
            }
        } else if (type == KX_CF_NICKNAME) {
            Json::Value row = Row(kNickname, std::move(value));
            row["data2"] = "1";
            rows.append(std::move(row));
        } else if (type == KX_CF_WEB_SITE) {
            Json::Value row = Row(kWebsite, std::move(value));
            row["data2"] = "7";
            rows.append(std::move(row));
        } else if (type >= KX_CF_IM_FIRST && type <= KX_CF_IM_LAST) {
            Json::Value row = Row(kIm, std::move(value));
            row["data2"] = "3";
            row["data5"] = std::string(1, static_cast<char>('0' + (type - KX_CF_IM_FIRST)));
            rows.append(std::move(row));
        } else if (type == KX_CF_IM_CUSTOM) {
            size_t colon = value.find(':');
            Json::Value row(Json::objectValue);
            row["data2"] = "3";
            row["mimetype"] = kIm;
            if (colon == std::string::npos) {
                row["data1"] = std::move(value);
            } else {
                row["data5"] = "-1";
                row["data6"] = colon == 0 ? std::string("Custom") : value.substr(0, colon);
                row["data1"] = value.substr(colon + 1);
            }
            rows.append(std::move(row));
        } else if (type >= KX_CF_EMAIL && type < KX_CF_WEB_SITE) {
            // Addresses past the third are what a read numbers 1003, 1004, ...: sending them
            // back keeps them on the handset.
            Json::Value row = Row(kEmail, std::move(value));
            if (!emailPrimary && EmailQualifies(record, type)) {
                MarkPrimary(&row);
                emailPrimary = true;
            }
            rows.append(std::move(row));
        } else if (const PhoneType* phone = FindPhoneType(type)) {
            Json::Value row = Row(kPhone, std::move(value));
            row["data2"] = std::to_string(phone->kind);
            if (!phonePrimary && PhoneQualifies(record, type)) {
                MarkPrimary(&row);
                phonePrimary = true;
            }
            rows.append(std::move(row));
        } else if (type == KX_CF_BIRTHDAY || type == KX_CF_ANNIVERSARY) {
            Json::Value row = Row(kEvent, std::move(value));
            row["data2"] = type == KX_CF_BIRTHDAY ? "3" : "1";
            rows.append(std::move(row));
        } else if (type == KX_CF_NOTE) {
            rows.append(Row(kNote, std::move(value)));
        }
    }

    if (!name.empty()) {
        name["mimetype"] = kName;
        ++*count;
        rows.append(std::move(name));
    }
    for (int b = 0; b < 3; ++b) {
        if (address[b].empty())
            continue;
        address[b]["mimetype"] = kPostal;
        address[b]["data2"] = kAddressBlocks[b].kind;
        ++*count;
        rows.append(std::move(address[b]));
    }
    if (!organization.empty()) {
        organization["mimetype"] = kOrganization;
        organization["data2"] = "1";
        ++*count;
        rows.append(std::move(organization));
    }
    if (const ContactField* holder = record.PictureHolder()) {
        std::string bytes;
        if (!holder->strFilePath.empty() && ReadPicture(holder->strFilePath, &bytes)) {
            ++*count;
            Json::Value row(Json::objectValue);
            row["mimetype"] = kPhoto;
            row["data15"] = Base64Encode(bytes.data(), bytes.size());
            rows.append(std::move(row));
        }
    }

    Json::Value& out = *object;
    out = Json::Value(Json::objectValue);
    out["__data"] = std::move(rows);
    if (starred)
        out["starred"] = "1";
    out["account_name"] = "pcsc";
    out["account_type"] = "com.vexo.android.pcsc";
    out["sourceid"] = "5";
    if (!record.strPIMID.empty()) {
        out["__id"] = WideToUtf8(record.strPIMID);
        ++*count;
    }
    return 1;
}

} // namespace kxconv
