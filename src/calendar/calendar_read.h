// The full calendar read behind CKXFakePhone::ReadCalendar, with the exchange with the handset
// service passed in, so the reader's sequence can be driven by a scripted service as well.
#pragma once

#include <cstddef>
#include <cstdint>

#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

#include "sync/id_batch_reader.h"

// Ids per "/calendar/do/read".
constexpr size_t kCalendarReadBatch = 30;

// The read itself (see CKXFakePhone::ReadCalendar). Host mode (list null): per decoded record
// the progress within its batch, after the merge each record (RecordCallback, 0x80001), then
// 0x80003 or 0x80002. Collecting mode: the merged records (exception lists included) are moved
// into list and nothing at all is sent. Returns 0, 12, 21 or 1100. exchange runs on the
// reader's thread.
int32_t RunCalendarRead(PhoneState& phone, uint32_t flags, RecordList<CalendarRecord>* list,
                        ServiceExchange exchange = &ServiceCall);
