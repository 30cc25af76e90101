// Contacts to the handset: the host's pending creates, deletes and updates through the batched
// writer, the handset's ids and modification times written back. Behind
// CKXFakePhone::WriteContact.
#pragma once

#include <cstdint>

#include <kxphone/contact_record.h>

#include "contacts/contact_groups.h"
#include "sync/phone_state.h"

// records null: nothing to write (0). silent (a restore): no host messages, no write-back.
// Returns 0, 12, 21 or 1100. Runs on the caller's thread; phone.StopFlag may be raised from another.
int32_t WriteContacts(PhoneState& phone, ContactGroupCache& groups, const KXContactList* records,
                      bool silent);
