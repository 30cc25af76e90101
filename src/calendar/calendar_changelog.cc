#include "calendar/calendar_changelog.h"

#include <cstdlib>
#include <set>
#include <utility>

#include "calendar/calendar_mapping.h"
#include "calendar/calendar_read.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "sync/change_log_clear.h"
#include "trace/trace.h"

namespace {

const char16_t kCaller[] = u"CKXFakePhone::ReadCalendarWithChangeLog";
const char16_t kCleanCaller[] = u"CKXFakePhone::CleanChangeLog";

const char kLogBody[] = R"({"calendar":1})";

// Bytes of ids per clear request.
constexpr size_t kClearBatchBytes = 20480;

const IdReadPlan kCalendarChangeRead = {
    KX_TYPE_CALENDAR,
    kCaller,
    service::kTrackingChangeLog,
    service::kCalendarRead,
    /*nullIdsCount=*/false,
    /*absentIdsAreEmpty=*/false,
    /*stopOverridesFailure=*/false,
    {u"calendar change log: no answer", u"calendar change log: stopped",
     u"calendar change log: answer is not JSON", u"calendar change log: status not 0"},
    u"calendar change log: no objects",
    // Any batch lost fails the read: the host would otherwise clear changes it never received.
    {u"calendar read: no answer", u"calendar read: stopped", u"calendar read: answer is not JSON",
     u"calendar read: status not 0"},
    u"calendar read: objects is not a list",
    /*recordCallback=*/true,
    /*progressCallback=*/false,
    kLogBody,
    "last_update_time",
    u"calendar change log: deletion without an id skipped",
};

const ChangeLogClearPlan kCalendarClear = {kCleanCaller, kLogBody, service::FastRead(ServiceKind::Calendar),
                                           "last_update_time"};

// The parents of changed instances that the read has not brought, as a read request's ids.
Json::Value MissingParents(const RecordList<CalendarRecord>& records,
                           const CalendarExceptionList& exceptions) {
    std::set<int32_t> have, missing;
    for (const CalendarRecord* record : records)
        have.insert(record->lPhoneId);
    for (const CalendarException& exception : exceptions)
        if (!have.count(exception.parentId))
            missing.insert(exception.parentId);
    Json::Value ids(Json::arrayValue);
    for (int32_t id : missing) {
        Json::Value item(Json::objectValue);
        item["__id"] = std::to_string(id);
        ids.append(std::move(item));
    }
    return ids;
}

} // namespace

int32_t RunCalendarChangeLogRead(PhoneState& phone, ServiceExchange exchange) {
    IdBatchReader read(phone, kCalendarChangeRead, false, exchange);
    read.Remember(&phone.CalendarChanges);
    RecordList<CalendarRecord> records; // kept for the merge, delivered after it
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;

    if (read.FetchIds()) {
        const int total = static_cast<int>(read.total());
        DeletionSink deleted = [&](const std::string& id) {
            CalendarRecord record;
            record.strId = platform::Utf8ToUtf16(id);
            record.lPhoneId = static_cast<int32_t>(std::strtol(id.c_str(), nullptr, 10));
            record.lFlag |= KX_RECORD_DELETE;
            record.lState = 0;
            read.reporter().RecordMessage(&record);
        };
        while (std::optional<ServiceReply> batch = read.NextBatch(kCalendarReadBatch, deleted)) {
            const size_t first = records.size();
            kxconv::ToCalendarList(batch->document, &records, &exdates, &exceptions);
            for (size_t i = first; i < records.size(); ++i) {
                if (int32_t mark = read.Mark(records[i]->strId))
                    records[i]->lFlag = mark;
                read.reporter().Progress(static_cast<int>(i - first), total);
            }
            KX_TRACE_INFO(kCaller,
                          platform::Format(u" #################### Read People:%d /%d #################### ",
                                           static_cast<int>(read.position()), total));
        }
        // The handset may log an edited instance under its own id: without its parent the merge
        // would drop the change.
        Json::Value parents = MissingParents(records, exceptions);
        for (Json::ArrayIndex at = 0; at < parents.size() && !read.Stopped(); at += kCalendarReadBatch) {
            Json::Value ids(Json::arrayValue);
            for (Json::ArrayIndex i = at; i < parents.size() && i < at + kCalendarReadBatch; ++i)
                ids.append(parents[i]);
            std::optional<ServiceReply> batch = read.ReadIds(std::move(ids));
            if (!batch)
                break;
            const size_t first = records.size();
            kxconv::ToCalendarList(batch->document, &records, &exdates, &exceptions);
            for (size_t i = first; i < records.size(); ++i)
                records[i]->lFlag = KX_RECORD_UPDATE;
        }
        // A parent brings its instances along; each instance is merged once.
        std::set<std::pair<int32_t, std::string>> seen;
        CalendarExceptionList unique;
        for (CalendarException& exception : exceptions)
            if (seen.insert({exception.parentId, exception.element}).second)
                unique.push_back(std::move(exception));
        exceptions.swap(unique);
    }

    if (!read.Stopped()) {
        CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
        for (const CalendarRecord* record : records)
            read.reporter().Record(record);
    }
    return read.Finish();
}

int32_t CleanCalendarChangeLog(PhoneState& phone, const std::vector<std::u16string>& ids,
                               ServiceExchange exchange) {
    std::set<std::string> unseen;
    if (phone.CalendarChanges.Valid() &&
        !FindUnseenChanges(kCalendarClear, phone.CalendarChanges, exchange, &unseen))
        return KX_FAILED;
    std::vector<std::string> clear;
    clear.reserve(ids.size());
    for (const std::u16string& id : ids) {
        std::string narrow = platform::Utf16ToUtf8(id);
        if (!unseen.count(narrow))
            clear.push_back(std::move(narrow));
    }
    for (Json::Value& batch : ClearBatches(clear, kClearBatchBytes)) {
        Json::Value body(Json::objectValue);
        body["calendar"] = "1";
        body["objects"] = batch;
        ServiceReply reply = exchange(service::kTrackingUpdate, &body);
        if (!reply.ok()) {
            KX_TRACE_ERROR(kCleanCaller, u"clearing calendar change log entries failed");
            return KX_FAILED;
        }
        for (const Json::Value& item : batch)
            phone.CalendarChanges.Forget(item["__id"].asString());
    }
    return KX_OK;
}
