// Calendar events to the handset: the host's pending creates, deletes and updates through the
// batched writer, then the modified instances of each written recurring event as exception rows
// once the event has its handset id. Behind CKXFakePhone::WriteCalendar.
#pragma once

#include <cstdint>

#include <kxphone/calendar_record.h>

#include "sync/phone_state.h"

// records null: nothing to write (0). quiet (a restore): no host messages, no write-back.
// Returns 0, 12, 21 or 1100. Runs on the caller's thread; phone.StopFlag may be raised from another.
int32_t WriteCalendars(PhoneState& phone, const KXCalendarList* records, bool quiet);
