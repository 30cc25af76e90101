// The incremental contact read behind CKXFakePhone::ReadContactWithChangeLog, and the clear of
// the contact log behind CleanChangeLog(2). The exchange with the handset service is passed in
// so a scripted service can drive both.
#pragma once

#include <cstdint>

#include <kxphone/contact_record.h>

#include "contacts/contact_groups.h"
#include "sync/id_batch_reader.h"

// Reads what the handset's log names: each deleted contact at once as a bare record (its ids,
// 0x20), the others by id in batches, marked 0x08 (added) or 0x04 (modified). Messages only, no
// callback: per record 0x20001, after each record read 0x10002 and 0x10003, then 0x20003 or
// 0x20002. Remembers what it delivered in phone.ContactChanges. Returns 0, 12, 21 or 1100.
int32_t ReadContactsWithChangeLog(PhoneState& phone, ContactGroupCache& groups,
                                  ServiceExchange exchange = &ServiceCall);

// Clears the contact log, which only goes as a whole: after a change-log read, only when the
// log holds nothing that read did not deliver. 0 when cleared, 1 otherwise (traced).
int32_t CleanContactChangeLog(PhoneState& phone, ServiceExchange exchange = &ServiceCall);
