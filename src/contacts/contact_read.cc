// The full contact read: the change log names every contact id, then the contacts are fetched
// by id in batches, converted and handed over one by one. Each batch's answer and records are
// released before the next batch is asked for, so memory does not grow with the contacts.
#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include <memory>
#include <optional>

#include "contacts/contact_read.h"

#include "contacts/contact_mapping.h"
#include "platform/format.h"
#include "sync/id_batch_reader.h"
#include "trace/trace.h"

namespace {

const char16_t kCaller[] = u"CKXFakePhone::ReadContact";

// Handsets with this product id answer only small batches.
constexpr int32_t kSmallBatchProduct = 3574;
constexpr size_t kBatch = 50;
constexpr size_t kSmallBatch = 10;

const IdReadPlan kContactRead = {
    KX_TYPE_CONTACT,
    kCaller,
    service::kContactChangeLog,
    service::kContactRead,
    /*nullIdsCount=*/true,
    /*absentIdsAreEmpty=*/true,
    /*stopOverridesFailure=*/true,
    {u"contact change log failed", u"contact change log failed", u"contact change log failed",
     u"contact change log failed"},
    u"contact change log has no id list",
    // An answer that is not JSON ends the read as a failure: contacts would be missing from a
    // read that reports success.
    {u"contact read request failed", u"contact read request failed", u"contact read answer is not valid JSON",
     u"contact read request failed"},
    // As with an answer that is not JSON: the asked-for contacts would go missing.
    u"contact read answer has no contact list",
    /*recordCallback=*/true,
    /*progressCallback=*/true,
    /*changeLogBody=*/nullptr,
    /*modifiedKey=*/nullptr,
    /*deletionWithoutId=*/nullptr,
};

} // namespace

int32_t ReadContacts(PhoneState& phone, ContactGroupCache& groups, RecordList<ContactRecord>* list) {
    // Collecting for a backup: no message and no callback at all, not even the final one.
    IdBatchReader read(phone, kContactRead, list != nullptr);
    FastAnswer fast; // the batches' answers, deciphered and parsed in one buffer kept for the read
    read.UseFastAnswers(&fast);
    const size_t batchSize = ContactReadBatch(phone);
    int delivered = 0;
    if (read.FetchIds()) {
        const int total = static_cast<int>(read.total());
        while (std::optional<ServiceReply> answer = read.NextBatch(batchSize)) {
            RecordList<ContactRecord> records;
            // Records a backup collects only pass through: their pictures are files of their own.
            if (answer->fast)
                ToContactBatch(answer->fast->objects(), groups, kCaller, list != nullptr,
                               list ? nullptr : &phone.Pictures, &records);
            else
                ToContactBatch(answer->objects(), groups, kCaller, list != nullptr,
                               list ? nullptr : &phone.Pictures, &records);
            answer.reset();

            if (list) {
                HandOverRecords(&records, list);
            } else {
                for (ContactRecord* record : records) {
                    ++delivered;
                    read.reporter().Record(record);
                    read.reporter().Progress(delivered, total);
                }
            }
            records.Clear();
            KX_TRACE_INFO(kCaller,
                          platform::Format(u" #################### Read People:%d /%d #################### ",
                                           static_cast<int>(read.position()), total));
        }
    }
    const int32_t result = read.Finish();
    // Only a read the host receives names the pictures it holds.
    if (result == KX_OK && !list)
        phone.Pictures.FullReadDone();
    return result;
}

size_t ContactReadBatch(const PhoneState& phone) {
    return phone.ProductId.load() == kSmallBatchProduct ? kSmallBatch : kBatch;
}

namespace {

template <class V>
void ToContactsOf(const V& objects, ContactGroupCache& groups, const char16_t* caller, bool passThrough,
                  PictureSession* pictures, RecordList<ContactRecord>* records) {
    records->Reserve(records->size() + objects.size());
    for (const auto& object : objects) {
        if (!object.isObject()) {
            KX_TRACE_ERROR(caller, u"contact entry is not an object");
            continue;
        }
        std::unique_ptr<ContactRecord> record(new ContactRecord);
        if (!kxconv::ToContactEx(object, record.get(), groups, passThrough))
            continue;
        if (const ContactField* holder = record->PictureHolder(); holder && pictures)
            pictures->Refer(holder->strFilePath);
        records->Add(std::move(record));
    }
}

} // namespace

void ToContactBatch(const Json::Value& objects, ContactGroupCache& groups, const char16_t* caller,
                    bool passThrough, PictureSession* pictures, RecordList<ContactRecord>* records) {
    ToContactsOf(objects, groups, caller, passThrough, pictures, records);
}

void ToContactBatch(const fastjson::Value& objects, ContactGroupCache& groups, const char16_t* caller,
                    bool passThrough, PictureSession* pictures, RecordList<ContactRecord>* records) {
    ToContactsOf(objects, groups, caller, passThrough, pictures, records);
}
