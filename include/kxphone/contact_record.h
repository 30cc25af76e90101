// A contact as host and driver exchange it: identities, status bits and two date-times, plus an
// ordered array of typed text fields. Shared by layout with hosts built by the same toolchain.
//
// Ownership: a record owns its fields; a RecordList owns its records. Records the driver hands to
// the host (record-read messages and RecordCallback) stay the driver's and are destroyed when
// their batch ends: the host copies what it keeps before its handler returns. Records the host
// hands to Write stay the host's; the driver works on ContactWorkingCopy objects.
//
// Not thread-safe: one thread works on a record at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <kxphone/kxphone.h>
#include <kxphone/ole_date.h>

// Field type codes (nType).
enum KXContactFieldType : int32_t {
    KX_CF_GIVEN_NAME = 1,
    KX_CF_FAMILY_NAME = 2,
    KX_CF_PICTURE_HOLDER3 = 3, // third choice of the picture holder search
    KX_CF_PICTURE_HOLDER = 5,  // added by the driver when a picture arrives and nothing can hold it
    KX_CF_PHONETIC_GIVEN_NAME = 4037,
    KX_CF_PHONETIC_FAMILY_NAME = 4038,
    KX_CF_NICKNAME = 4005,
    KX_CF_COMPANY = 4004,
    KX_CF_JOB_TITLE = 4015,
    KX_CF_WORK_PHONE = 100,
    KX_CF_WORK_PHONE2 = 101,
    KX_CF_HOME_PHONE = 102,
    KX_CF_HOME_PHONE2 = 103,
    KX_CF_MOBILE = 104,
    KX_CF_PAGER = 106,
    KX_CF_OTHER_PHONE = 108,
    KX_CF_HOME_FAX = 111,
    KX_CF_WORK_FAX = 112,
    KX_CF_CAR_PHONE = 114,
    KX_CF_COMPANY_MAIN = 116,
    KX_CF_ASSISTANT = 117,
    KX_CF_RADIO = 119,
    KX_CF_EMAIL = 1000, // 1000, 1001, 1002, ... in the order read
    KX_CF_EMAIL2 = 1001,
    KX_CF_EMAIL3 = 1002,
    KX_CF_WEB_SITE = 1500,
    // Address blocks: street, neighbourhood, post-office box, city, region, postal code, country.
    KX_CF_HOME_STREET = 2002,
    KX_CF_HOME_NEIGHBOURHOOD = 2003,
    KX_CF_HOME_POBOX = 2019,
    KX_CF_HOME_CITY = 2004,
    KX_CF_HOME_REGION = 2005,
    KX_CF_HOME_POSTAL_CODE = 2006,
    KX_CF_HOME_COUNTRY = 2008,
    KX_CF_WORK_STREET = 2010,
    KX_CF_WORK_NEIGHBOURHOOD = 2011,
    KX_CF_WORK_POBOX = 2021,
    KX_CF_WORK_CITY = 2012,
    KX_CF_WORK_REGION = 2013,
    KX_CF_WORK_POSTAL_CODE = 2014,
    KX_CF_WORK_COUNTRY = 2016,
    KX_CF_OTHER_STREET = 2032,
    KX_CF_OTHER_NEIGHBOURHOOD = 2033,
    KX_CF_OTHER_POBOX = 2030,
    KX_CF_OTHER_CITY = 2034,
    KX_CF_OTHER_REGION = 2035,
    KX_CF_OTHER_POSTAL_CODE = 2036,
    KX_CF_OTHER_COUNTRY = 2038,
    KX_CF_IM_CUSTOM = 4022, // "protocol:address"
    KX_CF_IM_FIRST = 4023,  // 4023 ... 4030: handset protocols 0 ... 7
    KX_CF_IM_LAST = 4030,
    KX_CF_BIRTHDAY = 4003,
    KX_CF_ANNIVERSARY = 4019,
    KX_CF_NOTE = 3002,   // line breaks "\r\n"
    KX_CF_GROUPS = 3018, // group titles joined with ";"
};

class ContactField {
public:
    ContactField() = default;
    ContactField(int32_t type, std::u16string data) : nType(type), strData(std::move(data)) {}
    // Copies every member except the version.
    ContactField(const ContactField& other) { CopyFrom(other); }
    ContactField& operator=(const ContactField& other) {
        if (this != &other)
            CopyFrom(other);
        return *this;
    }
    virtual ~ContactField() = default;

    const int32_t version = 100;
    int32_t nReserved = 0;
    int32_t nType = 0;
    std::u16string strData;
    int32_t nExtra1 = -1, nExtra2 = -1, nExtra3 = -1;
    std::u16string strExtra1;
    int32_t nExtra4 = -1;
    std::u16string strFilePath; // used only on the picture holder
    int32_t nExtra5 = 0;
    std::u16string strExtra2;
    std::map<std::u16string, std::u16string> mapExtra;
    std::u16string strExtra3;
    int32_t nExtra6 = -1;

private:
    void CopyFrom(const ContactField& other);
};

class ContactRecord {
public:
    // Defaults; both date-times take the current local time.
    ContactRecord();
    // Copies every member except the version; fields and raw bytes are copied deeply.
    ContactRecord(const ContactRecord& other);
    ContactRecord& operator=(const ContactRecord& other);
    // Inline so that hosts reading records need none of the driver's code.
    virtual ~ContactRecord() { RemoveAllFields(); }

    // Every member back to its default; deletes the fields and frees the raw bytes.
    void Reset();

    // Appends a copy of field when its text is not empty (the readers' form). True when added.
    bool AddField(const ContactField& field);
    bool AddField(int32_t type, std::u16string data);
    // Appends a copy whatever its text; returns the new field (owned by the record).
    ContactField* AppendField(const ContactField& field);

    // The first field at or after *position with this type; *position is then the index after
    // it. Null when there is none (position unchanged). A null position starts at 0.
    ContactField* FindField(int32_t type, int32_t* position = nullptr) const;
    bool HasField(int32_t type) const;

    int32_t GetFieldCount() const { return static_cast<int32_t>(fields_.size()); }
    // Null for an index outside the array.
    ContactField* GetField(int32_t index) const {
        return index >= 0 && static_cast<size_t>(index) < fields_.size() ? fields_[index] : nullptr;
    }
    // Deletes every field.
    void RemoveAllFields() {
        for (ContactField* f : fields_)
            delete f;
        fields_.clear();
    }

    // The field that carries the record's picture path: the first of type 1, else 2, else 3,
    // else 5. Null when none exists.
    ContactField* PictureHolder() const;
    // Puts path on the picture holder, appending an empty type-5 field when there is none.
    void SetPicturePath(const std::u16string& path);

    // Opaque bytes carried along and copied; the contact code never reads them.
    const std::vector<uint8_t>& RawData() const { return raw_; }
    void SetRawData(const void* data, size_t length);

    const int32_t version = 100;
    int32_t lFlag = 0;
    int32_t lIndex = -1;
    int32_t lUniqueID = -1;
    int32_t lPhoneMemory = -1; // the handset's numeric contact id after a read
    int32_t nTotalMemoryUsed = 0;
    int32_t dtLocation = 0; // 1 on every record built from the handset's answer

private:
    std::vector<ContactField*> fields_;
    std::vector<uint8_t> raw_;

public:
    int32_t nContactID = 0;
    std::u16string strPIMID; // the handset's id as text; empty when the handset does not know it
    std::u16string csFolder;
    platform::OleDate strLastModify; // local time
    platform::OleDate strCreated;    // local time

private:
    void CopyFrom(const ContactRecord& other);
};

// The copy of a host record that Write works on. pSource names the host's record (not owned)
// so that results can be written back to it.
class ContactWorkingCopy : public ContactRecord {
public:
    explicit ContactWorkingCopy(ContactRecord* source) : ContactRecord(*source), pSource(source) {}
    ContactRecord* pSource;
};

// What a host hands to Write(2): its own records, in order (the driver never owns or frees them).
// Records with a status bit (0x08 create, 0x20 delete, 0x04 update) are written; the driver
// clears the bit it acted on, gives it back when the handset did not confirm the change, and
// writes the handset's id and modification time into each confirmed record. Null entries are
// skipped.
typedef std::vector<ContactRecord*> KXContactList;
