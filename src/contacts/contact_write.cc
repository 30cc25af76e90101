#include "contacts/contact_write.h"

#include "contacts/contact_mapping.h"
#include "sync/record_writer.h"
#include "sync/time_conversions.h"

namespace {

const WriteKind kContactWrite = {ServiceKind::Contact, KX_TYPE_CONTACT, u"CKXFakePhone::WriteContact",
                                 u"convert contact to json error;", /*oneRowPerRecord=*/true};

class ContactCopies : public WorkingCopies<ContactRecord, ContactWorkingCopy, &ContactRecord::strPIMID,
                                           &ContactRecord::strLastModify> {
public:
    explicit ContactCopies(ContactGroupCache& groups) : groups_(groups) {}

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        Json::Value object;
        if (!kxconv::FromContactEx(*copies_[i], &object, fields, groups_) || !object.isObject())
            return false;
        rows->append(std::move(object));
        return true;
    }

    void WriteBack(size_t i, const ModifyTime* fetched, WriteReporter& reporter) override {
        ContactRecord* host = hosts_[i];
        host->strPIMID = copies_[i]->strPIMID;
        if (fetched)
            CalConv::MillisTextToDate(fetched->time, false, &host->strLastModify);
        reporter.RecordWritten(host);
        copies_[i]->pSource = nullptr;
    }

private:
    ContactGroupCache& groups_;
};

} // namespace

int32_t WriteContacts(PhoneState& phone, ContactGroupCache& groups, const KXContactList* records,
                      bool silent) {
    RecordWriter writer(phone, kContactWrite, &ContactWriteLimits, silent);
    ContactCopies deletes(groups), updates(groups), creates(groups);
    if (records)
        SortForWrite(*records, phone, &deletes, &updates, &creates);
    writer.Write(ServiceWrite::Delete, deletes);
    writer.Write(ServiceWrite::Update, updates);
    writer.Write(ServiceWrite::Create, creates);
    return writer.Finish();
}
