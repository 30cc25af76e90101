// The full contact read: the change log names every contact id, then the contacts are fetched
// by id in batches, converted and handed over one by one. Each batch's answer and records are
// released before the next batch is asked for, so memory does not grow with the contacts.
#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_mapping.h"
#include "driver/app.h"
#include "driver/fake_phone.h"
#include "driver/host_messages.h"
#include "driver/trace.h"
#include "platform/format.h"
#include "transport/service_request.h"

namespace {

const char16_t kCaller[] = u"CKXFakePhone::ReadContact";

// Handsets with this product id answer only small batches.
constexpr int32_t kSmallBatchProduct = 3574;
constexpr size_t kBatch = 50;
constexpr size_t kSmallBatch = 10;

// An id as the handset wrote it: text or number; anything else reads as empty.
std::string IdText(const Json::Value& id) {
    const char *b, *e;
    if (id.getString(&b, &e))
        return std::string(b, e);
    if (id.isNumeric() || id.isBool())
        return id.asString();
    return std::string();
}

// The id of every change-log entry, by position: objects and nulls take part in the read,
// other entries are skipped without counting (nullopt). The answer itself can then go.
std::vector<std::optional<std::string>> CollectIds(const Json::Value& objects) {
    std::vector<std::optional<std::string>> ids;
    ids.reserve(objects.size());
    for (const Json::Value& entry : objects) {
        if (entry.isObject())
            ids.emplace_back(IdText(entry["__id"]));
        else if (entry.isNull())
            ids.emplace_back(std::string());
        else
            ids.emplace_back(std::nullopt);
    }
    return ids;
}

} // namespace

int32_t CKXFakePhone::ReadContact(RecordList<ContactRecord>* list) {
    // Collecting for a backup: no message and no callback at all, not even the final one.
    ReadReporter reporter(KX_TYPE_CONTACT, kCaller, true, true, list != nullptr);
    int32_t result = KX_OK;

    std::vector<std::optional<std::string>> ids;
    {
        ServiceReply changeLog = ServiceCall(service::kContactChangeLog, nullptr);
        if (!changeLog.ok()) {
            // Not even an undecipherable answer may pass for an empty phone.
            KX_TRACE_ERROR(kCaller, u"contact change log failed");
            result = changeLog.outcome == ServiceReply::kStopped ? KX_STOPPED : KX_FAILED;
        } else {
            const Json::Value& objects = changeLog.objects();
            if (objects.isArray()) {
                ids = CollectIds(objects);
            } else if (!objects.isNull()) {
                KX_TRACE_ERROR(kCaller, u"contact change log has no id list");
                result = KX_FAILED;
            }
        }
    }

    const size_t total = ids.size();
    const size_t batchSize = ProductId.load() == kSmallBatchProduct ? kSmallBatch : kBatch;
    size_t index = 0;
    int delivered = 0;
    Json::Value request(Json::objectValue);
    while (result == KX_OK && index < total && !StopFlag.load()) {
        Json::Value& batch = request["objects"] = Json::Value(Json::arrayValue);
        while (index < total && batch.size() < batchSize) {
            const std::optional<std::string>& id = ids[index++];
            if (!id)
                continue;
            Json::Value item(Json::objectValue);
            item["__id"] = *id;
            batch.append(std::move(item));
        }
        if (batch.empty())
            continue;

        RecordList<ContactRecord> records;
        {
            ServiceReply answer = ServiceCall(service::kContactRead, request);
            if (!answer.ok()) {
                // An answer that is not JSON ends the read as a failure: contacts would be
                // missing from a read that reports success.
                KX_TRACE_ERROR(kCaller, answer.outcome == ServiceReply::kBadAnswer
                                            ? u"contact read answer is not valid JSON"
                                            : u"contact read request failed");
                result = answer.outcome == ServiceReply::kStopped ? KX_STOPPED : KX_FAILED;
                break;
            }
            const Json::Value& objects = answer.objects();
            if (!objects.isArray() && !objects.isNull()) {
                // As with an answer that is not JSON: the asked-for contacts would go missing
                // from a read that reports success.
                KX_TRACE_ERROR(kCaller, u"contact read answer has no contact list");
                result = KX_FAILED;
                break;
            }
            if (objects.isArray()) {
                records.Reserve(objects.size());
                for (const Json::Value& object : objects) {
                    if (!object.isObject()) {
                        KX_TRACE_ERROR(kCaller, u"contact entry is not an object");
                        continue;
                    }
                    std::unique_ptr<ContactRecord> record(new ContactRecord);
                    if (kxconv::ToContactEx(object, record.get()))
                        records.Add(std::move(record));
                }
            }
        }

        if (list) {
            // The caller's list takes the records over, in order.
            delivered += records.GetCount();
            for (size_t n = records.size(); n > 0; --n)
                list->Add(records.Detach(0));
        } else {
            for (ContactRecord* record : records) {
                ++delivered;
                reporter.Record(record);
                reporter.Progress(delivered, static_cast<int>(total));
            }
        }
        records.Clear();
        KX_TRACE_INFO(kCaller,
                      platform::Format(u" #################### Read People:%d /%d #################### ",
                                       static_cast<int>(index), static_cast<int>(total)));
    }

    if (StopFlag.load())
        result = KX_STOPPED;
    result = NormaliseResult(result);
    if (result != KX_OK && result != KX_WRITE_REFUSED && result != KX_STOPPED)
        CheckPhoneReady();
    return reporter.Finish(result);
}
