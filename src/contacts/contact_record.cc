#include <kxphone/contact_record.h>

#include "sync/time_conversions.h"

namespace {

// Room for one more pointer before the field is made, so that a failed allocation cannot leak
// it. Doubling keeps appending linear: one reply can carry a great many rows.
void MakeRoom(std::vector<ContactField*>* fields) {
    if (fields->size() == fields->capacity())
        fields->reserve(fields->empty() ? 8 : fields->size() * 2);
}

} // namespace

void ContactField::CopyFrom(const ContactField& other) {
    nReserved = other.nReserved;
    nType = other.nType;
    strData = other.strData;
    nExtra1 = other.nExtra1;
    nExtra2 = other.nExtra2;
    nExtra3 = other.nExtra3;
    strExtra1 = other.strExtra1;
    nExtra4 = other.nExtra4;
    strFilePath = other.strFilePath;
    nExtra5 = other.nExtra5;
    strExtra2 = other.strExtra2;
    mapExtra = other.mapExtra;
    strExtra3 = other.strExtra3;
    nExtra6 = other.nExtra6;
}

ContactRecord::ContactRecord() {
    strLastModify = CalConv::LocalNow();
    strCreated = strLastModify;
}

ContactRecord::ContactRecord(const ContactRecord& other) {
    CopyFrom(other);
}

ContactRecord& ContactRecord::operator=(const ContactRecord& other) {
    if (this != &other)
        CopyFrom(other);
    return *this;
}

void ContactRecord::CopyFrom(const ContactRecord& other) {
    lFlag = other.lFlag;
    lIndex = other.lIndex;
    lUniqueID = other.lUniqueID;
    lPhoneMemory = other.lPhoneMemory;
    nTotalMemoryUsed = other.nTotalMemoryUsed;
    dtLocation = other.dtLocation;
    // Build the new array first so that a failed allocation leaves this record as it was.
    std::vector<ContactField*> copies;
    copies.reserve(other.fields_.size());
    try {
        for (const ContactField* f : other.fields_)
            copies.push_back(new ContactField(*f));
    } catch (...) {
        for (ContactField* f : copies)
            delete f;
        throw;
    }
    RemoveAllFields();
    fields_.swap(copies);
    raw_ = other.raw_;
    nContactID = other.nContactID;
    strPIMID = other.strPIMID;
    csFolder = other.csFolder;
    strLastModify = other.strLastModify;
    strCreated = other.strCreated;
}

void ContactRecord::Reset() {
    lFlag = 0;
    lIndex = -1;
    lUniqueID = -1;
    lPhoneMemory = -1;
    nTotalMemoryUsed = 0;
    dtLocation = 0;
    RemoveAllFields();
    std::vector<uint8_t>().swap(raw_);
    nContactID = 0;
    strPIMID.clear();
    csFolder.clear();
    strLastModify = CalConv::LocalNow();
    strCreated = strLastModify;
}

bool ContactRecord::AddField(const ContactField& field) {
    if (field.strData.empty())
        return false;
    AppendField(field);
    return true;
}

bool ContactRecord::AddField(int32_t type, std::u16string data) {
    if (data.empty())
        return false;
    MakeRoom(&fields_);
    fields_.push_back(new ContactField(type, std::move(data)));
    return true;
}

ContactField* ContactRecord::AppendField(const ContactField& field) {
    MakeRoom(&fields_);
    ContactField* copy = new ContactField(field);
    fields_.push_back(copy);
    return copy;
}

ContactField* ContactRecord::FindField(int32_t type, int32_t* position) const {
    size_t start = position && *position > 0 ? static_cast<size_t>(*position) : 0;
    for (size_t i = start; i < fields_.size(); ++i) {
        if (fields_[i] && fields_[i]->nType == type) {
            if (position)
                *position = static_cast<int32_t>(i + 1);
            return fields_[i];
        }
    }
    return nullptr;
}

bool ContactRecord::HasField(int32_t type) const {
    return FindField(type) != nullptr;
}

ContactField* ContactRecord::PictureHolder() const {
    static const int32_t kOrder[] = {KX_CF_GIVEN_NAME, KX_CF_FAMILY_NAME, KX_CF_PICTURE_HOLDER3,
                                     KX_CF_PICTURE_HOLDER};
    for (int32_t type : kOrder)
        if (ContactField* f = FindField(type))
            return f;
    return nullptr;
}

void ContactRecord::SetPicturePath(const std::u16string& path) {
    if (ContactField* holder = PictureHolder()) {
        holder->strFilePath = path;
        return;
    }
    ContactField holder(KX_CF_PICTURE_HOLDER, std::u16string());
    holder.strFilePath = path;
    AppendField(holder);
}

void ContactRecord::SetRawData(const void* data, size_t length) {
    if (!data || length == 0) {
        std::vector<uint8_t>().swap(raw_);
        return;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    raw_.assign(bytes, bytes + length);
}
