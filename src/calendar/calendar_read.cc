#include "calendar/calendar_read.h"

#include "calendar/calendar_mapping.h"

namespace {

const IdReadPlan kCalendarRead = {
    KX_TYPE_CALENDAR,
    u"CKXFakePhone::ReadCalendar",
    service::kCalendarChangeLog,
    service::kCalendarRead,
    /*nullIdsCount=*/false,
    /*absentIdsAreEmpty=*/false,
    // A stopped read is no complete read; a failure before the stop stays a failure.
    /*stopOverridesFailure=*/false,
    {u"calendar id list: no answer", u"calendar id list: stopped", u"calendar id list: answer is not JSON",
     u"calendar id list: status not 0"},
    u"calendar id list: no objects",
    {u"calendar read: no answer", u"calendar read: stopped", u"calendar read: answer is not JSON",
     u"calendar read: status not 0"},
    /*noRowList=*/nullptr,
    /*recordCallback=*/true,
    /*progressCallback=*/true,
    /*changeLogBody=*/nullptr,
    /*modifiedKey=*/nullptr,
    /*deletionWithoutId=*/nullptr,
};

} // namespace

int32_t RunCalendarRead(PhoneState& phone, uint32_t flags, RecordList<CalendarRecord>* list,
                        ServiceExchange exchange) {
    const bool collecting = list != nullptr;
    // A backup asked for the records, not for messages: it gets none at all.
    IdBatchReader read(phone, kCalendarRead, collecting, exchange);
    FastAnswer fast; // the batches' answers, deciphered and parsed in one buffer kept for the read
    read.UseFastAnswers(&fast);

    RecordList<CalendarRecord> records; // kept for the merge, delivered after it
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;

    if (!(flags & KX_READ_NO_TRACKING))
        exchange(service::kCalendarSetTracking, nullptr); // its outcome does not matter

    if (read.FetchIds()) {
        const int total = static_cast<int>(read.total());
        while (std::optional<ServiceReply> batch = read.NextBatch(kCalendarReadBatch)) {
            int decoded = batch->fast
                              ? kxconv::ToCalendarList(batch->fast->root(), &records, &exdates, &exceptions)
                              : kxconv::ToCalendarList(batch->document, &records, &exdates, &exceptions);
            for (int i = 0; i < decoded && !collecting; ++i)
                read.reporter().Progress(i, total); // counts within the batch: restarts with every batch
        }
    }

    if (!read.Stopped()) {
        CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
        if (collecting) {
            HandOverRecords(&records, list);
        } else {
            for (const CalendarRecord* record : records)
                read.reporter().Record(record);
        }
    }
    return read.Finish();
}
