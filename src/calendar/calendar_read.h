// The full calendar read behind CKXFakePhone::ReadCalendar, with the exchange with the handset
// service passed in, so the reader's sequence can be driven by a scripted service as well.
#pragma once

#include <cstdint>

#include <json/json.h>
#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

enum class CalendarRequest { kSetTracking, kIdList, kRead };

// What the reader needs to know of one exchange.
struct CalendarReply {
    enum Kind {
        kOk,      // parsed, "status" 0
        kFailed,  // no answer, or the request failed in the transport
        kStopped, // the transport was cancelled
        kBadJson, // the answer is not a JSON document
        kStatus,  // "status" is not 0
    };
    Kind kind = kFailed;
    Json::Value document;
};

// One request; body is null for the requests without one. Runs on the reader's thread.
typedef CalendarReply (*CalendarExchange)(CalendarRequest request, const Json::Value* body);

// The service's requests through the transport.
CalendarReply CalendarServiceExchange(CalendarRequest request, const Json::Value* body);

// Ids per "/calendar/do/read".
constexpr size_t kCalendarReadBatch = 30;

// The read itself (see CKXFakePhone::ReadCalendar). Host mode (list null): per decoded record
// the progress within its batch, after the merge each record (RecordCallback, 0x80001), then
// 0x80003 or 0x80002. Collecting mode: the merged records (exception lists included) are moved
// into list and nothing at all is sent. Returns 0, 12, 21 or 1100.
int32_t RunCalendarRead(uint32_t flags, RecordList<CalendarRecord>* list, CalendarExchange exchange);
