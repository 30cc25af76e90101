#include "contacts/contact_write.h"

#include <algorithm>
#include <map>

#include "contacts/contact_carry.h"
#include "contacts/contact_mapping.h"
#include "sync/current_rows.h"
#include "sync/record_writer.h"
#include "sync/time_conversions.h"

namespace {

const WriteKind kContactWrite = {ServiceKind::Contact, KX_TYPE_CONTACT, u"CKXFakePhone::WriteContact",
                                 u"convert contact to json error;", /*oneRowPerRecord=*/true};

class ContactCopies : public WorkingCopies<ContactRecord, ContactWorkingCopy, &ContactRecord::strPIMID,
                                           &ContactRecord::strLastModify> {
public:
    ContactCopies(const PhoneState& phone, ContactGroupCache& groups, ServiceWrite op)
        : phone_(phone), groups_(groups), op_(op) {}

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        // An update sends back what the host's record cannot hold, so it needs the handset's rows
        // first; those of one request's worth of records are kept at a time.
        if (op_ == ServiceWrite::Update && i >= windowEnd_ && !ReadWindow(i))
            return true; // not sent: the handset's rows could not be read
        // The host keeps this picture file for its record: it stays past the session's end.
        if (const ContactField* holder = copies_[i]->PictureHolder())
            phone_.Pictures.Refer(holder->strFilePath);
        Json::Value object;
        if (!kxconv::FromContactEx(*copies_[i], &object, fields, groups_) || !object.isObject())
            return false;
        auto found = current_.find(copies_[i]->strPIMID);
        if (found != current_.end())
            kxconv::CarryOverContact(found->second, *copies_[i], groups_, &object, fields);
        rows->append(std::move(object));
        return true;
    }

    bool Unsent() const override { return unsent_; }

    void WriteBack(size_t i, const ModifyTime* fetched, WriteReporter& reporter) override {
        ContactRecord* host = hosts_[i];
        host->strPIMID = copies_[i]->strPIMID;
        if (fetched)
            CalConv::MillisTextToDate(fetched->time, false, &host->strLastModify);
        reporter.RecordWritten(host);
        copies_[i]->pSource = nullptr;
    }

private:
    bool ReadWindow(size_t first) {
        const size_t perRequest =
            ContactWriteLimits(phone_.ProductId.load(), phone_.PlatformClass.load(), op_).records;
        windowEnd_ = std::min(size(), first + perRequest);
        std::vector<std::u16string> ids;
        for (size_t i = first; i < windowEnd_; ++i)
            ids.push_back(copies_[i]->strPIMID);
        current_.clear();
        if (ReadCurrentRows(service::kContactRead, ids, perRequest, kContactWrite.caller, &current_))
            return true;
        unsent_ = true;
        return false;
    }

    const PhoneState& phone_;
    ContactGroupCache& groups_;
    const ServiceWrite op_;
    std::map<std::u16string, Json::Value> current_; // the handset's contacts of the window
    size_t windowEnd_ = 0;
    bool unsent_ = false;
};

} // namespace

int32_t WriteContacts(PhoneState& phone, ContactGroupCache& groups, const KXContactList* records,
                      bool silent) {
    RecordWriter writer(phone, kContactWrite, &ContactWriteLimits, silent);
    ContactCopies deletes(phone, groups, ServiceWrite::Delete), updates(phone, groups, ServiceWrite::Update),
        creates(phone, groups, ServiceWrite::Create);
    if (records)
        SortForWrite(*records, phone, &deletes, &updates, &creates);
    writer.Write(ServiceWrite::Delete, deletes);
    writer.Write(ServiceWrite::Update, updates);
    writer.Write(ServiceWrite::Create, creates);
    return writer.Finish();
}
