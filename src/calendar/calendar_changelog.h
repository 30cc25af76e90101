// The incremental calendar read behind CKXFakePhone::ReadCalendarWithChangeLog, and the clear of
// calendar log entries by id behind CleanChangeLog(8). The exchange with the handset service is
// passed in so a scripted service can drive both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sync/id_batch_reader.h"

// Reads what the handset's calendar log names: each deleted event at once as a bare record (its
// id, 0x20; message only), the others by id in batches of 30, marked 8 (added) or 4 (modified),
// with per-batch progress messages; a changed instance whose parent the log does not name
// brings its parent along, marked modified. After the exception merge every record goes to the
// host (RecordCallback, 0x80001), then 0x80003 or 0x80002. Remembers what it delivered in
// phone.CalendarChanges. Returns 0, 12, 21 or 1100.
int32_t RunCalendarChangeLogRead(PhoneState& phone, ServiceExchange exchange = &ServiceCall);

// Clears the log entries of ids, in requests of less than 20480 bytes of ids. After a
// change-log read, an entry that read did not deliver as it stands now is kept (traced). 0 when
// every request succeeded, 1 at the first that failed.
int32_t CleanCalendarChangeLog(PhoneState& phone, const std::vector<std::u16string>& ids,
                               ServiceExchange exchange = &ServiceCall);
