#include "contacts/contact_write.h"

#include <memory>
#include <vector>

#include "contacts/contact_mapping.h"
#include "sync/record_writer.h"
#include "sync/time_conversions.h"

namespace {

const WriteKind kContactWrite = {ServiceKind::Contact, KX_TYPE_CONTACT, u"CKXFakePhone::WriteContact",
                                 u"convert contact to json error;", /*oneRowPerRecord=*/true};

class ContactCopies : public WorkingSet {
public:
    explicit ContactCopies(ContactGroupCache& groups) : groups_(groups) {}

    static bool HasHandsetId(const ContactRecord& host) { return !host.strPIMID.empty(); }
    static void StampUpdate(ContactRecord* host) { host->strLastModify = CalConv::LocalNow(); }

    void Add(ContactRecord* host, int32_t bit) {
        copies_.push_back(std::make_unique<ContactWorkingCopy>(host));
        bits_.push_back(bit);
        previous_.push_back(host->strLastModify);
    }

    size_t size() const override { return copies_.size(); }

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        Json::Value object;
        if (!kxconv::FromContactEx(*copies_[i], &object, fields, groups_) || !object.isObject())
            return false;
        rows->append(std::move(object));
        return true;
    }

    bool Confirm(size_t i, const Json::Value& object) override {
        std::u16string id = AnswerId(object);
        if (id.empty())
            return false;
        copies_[i]->strPIMID = std::move(id);
        return true;
    }

    std::u16string HandsetId(size_t i) const override { return copies_[i]->strPIMID; }

    void WriteBack(size_t i, const ModifyTime* fetched, WriteReporter& reporter) override {
        ContactRecord* host = copies_[i]->pSource;
        host->strPIMID = copies_[i]->strPIMID;
        if (fetched)
            CalConv::MillisTextToDate(fetched->time, false, &host->strLastModify);
        reporter.RecordWritten(host);
        copies_[i]->pSource = nullptr;
    }

    void GiveBack(size_t i) override {
        ContactRecord* host = copies_[i]->pSource;
        if (!host)
            return;
        host->lFlag |= bits_[i];
        host->strLastModify = previous_[i];
    }

private:
    ContactGroupCache& groups_;
    std::vector<std::unique_ptr<ContactWorkingCopy>> copies_;
    std::vector<int32_t> bits_;
    std::vector<platform::OleDate> previous_;
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
