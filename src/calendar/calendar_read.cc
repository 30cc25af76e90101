#include "calendar/calendar_read.h"

#include "calendar/calendar_mapping.h"
#include "driver/app.h"
#include "driver/fake_phone.h"
#include "driver/host_messages.h"
#include "driver/trace.h"
#include "platform/format.h"
#include "transport/id_batch.h"
#include "transport/service_request.h"

namespace {

const char16_t kCaller[] = u"CKXFakePhone::ReadCalendar";

// The reader's result for an exchange that did not succeed.
int32_t FailureOf(const CalendarReply& reply, const char16_t* what) {
    const char16_t* why = reply.kind == CalendarReply::kStopped   ? u"stopped"
                          : reply.kind == CalendarReply::kBadJson ? u"answer is not JSON"
                          : reply.kind == CalendarReply::kStatus  ? u"status not 0"
                                                                  : u"no answer";
    KX_TRACE_ERROR(kCaller, platform::Format(u"%s: %s", what, why));
    return reply.kind == CalendarReply::kStopped ? KX_STOPPED : KX_FAILED;
}

} // namespace

int32_t RunCalendarRead(uint32_t flags, RecordList<CalendarRecord>* list, CalendarExchange exchange) {
    CKXFakePhone& phone = theApp.m_FakePhone;
    const bool collecting = list != nullptr;
    // A backup asked for the records, not for messages: it gets none at all.
    ReadReporter reporter(KX_TYPE_CALENDAR, kCaller, true, true, collecting);

    RecordList<CalendarRecord> records; // kept for the merge, delivered after it
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    int32_t result = KX_OK;

    if (!(flags & KX_READ_NO_TRACKING))
        exchange(CalendarRequest::kSetTracking, nullptr); // its outcome does not matter

    const CalendarReply idList = exchange(CalendarRequest::kIdList, nullptr);
    if (idList.kind != CalendarReply::kOk) {
        result = FailureOf(idList, u"calendar id list");
    } else if (!idList.document["objects"].isArray()) {
        KX_TRACE_ERROR(kCaller, u"calendar id list: no objects");
        result = KX_FAILED;
    } else {
        const Json::Value& ids = idList.document["objects"];
        const int total = static_cast<int>(ids.size());
        Json::ArrayIndex position = 0;
        while (position < ids.size() && !phone.StopFlag) {
            Json::Value body(Json::objectValue);
            body["objects"] = NextIdBatch(ids, &position, kCalendarReadBatch);
            if (body["objects"].empty())
                break;
            CalendarReply batch = exchange(CalendarRequest::kRead, &body);
            if (batch.kind != CalendarReply::kOk) {
                // A batch lost to an unreadable answer fails the read: the host must not take
                // an incomplete calendar for the whole.
                result = FailureOf(batch, u"calendar read");
                break;
            }
            int decoded = kxconv::ToCalendarList(batch.document, &records, &exdates, &exceptions);
            for (int i = 0; i < decoded && !collecting; ++i)
                reporter.Progress(i, total); // counts within the batch: restarts with every batch
        }
        // A stopped read is no complete read.
        if (phone.StopFlag && result == KX_OK)
            result = KX_STOPPED;
    }

    if (!phone.StopFlag) {
        CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
        if (collecting) {
            if (list->empty()) {
                *list = std::move(records);
            } else {
                list->Reserve(list->size() + records.size());
                while (!records.empty())
                    list->Add(records.Detach(0));
            }
        } else {
            for (const CalendarRecord* record : records)
                reporter.Record(record);
        }
    }

    int32_t mapped = NormaliseResult(result);
    if (mapped != KX_OK && mapped != KX_WRITE_REFUSED && mapped != KX_STOPPED)
        phone.CheckPhoneReady();
    return reporter.Finish(mapped);
}

int32_t CKXFakePhone::ReadCalendar(uint32_t flags, RecordList<CalendarRecord>* list) {
    return RunCalendarRead(flags, list, &CalendarServiceExchange);
}

CalendarReply CalendarServiceExchange(CalendarRequest request, const Json::Value* body) {
    const ServiceRequest& r = request == CalendarRequest::kSetTracking ? service::kCalendarSetTracking
                              : request == CalendarRequest::kIdList    ? service::kCalendarChangeLog
                                                                       : service::kCalendarRead;
    ServiceReply reply = ServiceCall(r, body);
    CalendarReply out;
    switch (reply.outcome) {
    case ServiceReply::kOk:
        out.kind = CalendarReply::kOk;
        break;
    case ServiceReply::kStopped:
        out.kind = CalendarReply::kStopped;
        break;
    case ServiceReply::kBadAnswer:
        out.kind = CalendarReply::kBadJson;
        break;
    case ServiceReply::kStatus:
        out.kind = CalendarReply::kStatus;
        break;
    default:
        out.kind = CalendarReply::kFailed;
        break;
    }
    out.document = std::move(reply.document);
    return out;
}
