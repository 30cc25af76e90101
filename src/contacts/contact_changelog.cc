#include "contacts/contact_changelog.h"

#include <cstdlib>
#include <memory>
#include <set>

#include "contacts/contact_mapping.h"
#include "contacts/contact_read.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "sync/change_log_clear.h"
#include "trace/trace.h"

namespace {

const char16_t kCaller[] = u"CKXFakePhone::ReadContactWithChangeLog";
const char16_t kCleanCaller[] = u"CKXFakePhone::CleanChangeLog";

const char kLogBody[] = R"({"contact":1})";

const IdReadPlan kContactChangeRead = {
    KX_TYPE_CONTACT,
    kCaller,
    service::kTrackingChangeLog,
    service::kContactRead,
    /*nullIdsCount=*/true,
    /*absentIdsAreEmpty=*/true,
    /*stopOverridesFailure=*/true,
    {u"contact change log failed", u"contact change log failed", u"contact change log failed",
     u"contact change log failed"},
    u"contact change log has no entry list",
    // Any batch lost fails the read: the host would otherwise clear changes it never received.
    {u"contact read request failed", u"contact read request failed", u"contact read answer is not valid JSON",
     u"contact read request failed"},
    u"contact read answer has no contact list",
    /*recordCallback=*/false,
    /*progressCallback=*/false,
    kLogBody,
    "sync4",
    u"contact change log: deletion without an id skipped",
};

const ChangeLogClearPlan kContactClear = {kCleanCaller, kLogBody, service::FastRead(ServiceKind::Contact),
                                          "sync4"};

} // namespace

int32_t ReadContactsWithChangeLog(PhoneState& phone, ContactGroupCache& groups, ServiceExchange exchange) {
    IdBatchReader read(phone, kContactChangeRead, false, exchange);
    read.Remember(&phone.ContactChanges);
    const size_t batchSize = ContactReadBatch(phone);
    int delivered = 0;
    if (read.FetchIds()) {
        const int total = static_cast<int>(read.total());
        DeletionSink deleted = [&](const std::string& id) {
            ContactRecord record;
            record.strPIMID = platform::Utf8ToUtf16(id);
            record.lPhoneMemory = static_cast<int32_t>(std::strtol(id.c_str(), nullptr, 10));
            record.lFlag |= KX_RECORD_DELETE;
            record.dtLocation = 1;
            ++delivered;
            read.reporter().Record(&record);
        };
        while (std::optional<ServiceReply> answer = read.NextBatch(batchSize, deleted)) {
            RecordList<ContactRecord> records;
            ToContactBatch(answer->objects(), groups, kCaller, false, &phone.Pictures, &records);
            answer.reset();
            for (ContactRecord* record : records) {
                ++delivered;
                record->lFlag |= read.Mark(record->strPIMID);
                read.reporter().Record(record);
                read.reporter().Progress(delivered, total);
            }
            records.Clear();
            KX_TRACE_INFO(kCaller,
                          platform::Format(u" #################### Read People:%d /%d #################### ",
                                           static_cast<int>(read.position()), total));
        }
    }
    return read.Finish();
}

int32_t CleanContactChangeLog(PhoneState& phone, ServiceExchange exchange) {
    // Without a change-log read since the driver was loaded there is nothing to compare with.
    if (phone.ContactChanges.Valid()) {
        std::set<std::string> unseen;
        if (!FindUnseenChanges(kContactClear, phone.ContactChanges, exchange, &unseen))
            return KX_FAILED;
        if (!unseen.empty()) {
            KX_TRACE_ERROR(
                kCleanCaller,
                platform::Format(u"contact change log holds %d change(s) not yet read, nothing cleared",
                                 static_cast<int>(unseen.size())));
            return KX_FAILED;
        }
    }
    Json::Value body(Json::objectValue);
    body["contact"] = "1";
    ServiceReply reply = exchange(service::kTrackingUpdate, &body);
    if (!reply.ok()) {
        KX_TRACE_ERROR(kCleanCaller, u"clearing the contact change log failed");
        return KX_FAILED;
    }
    phone.ContactChanges.ForgetAll();
    return KX_OK;
}
