// Contacts to and from the backup file "people.dat" in a folder the host names, and the restore
// in its three modes. Behind CKXFakePhone::BackupContent and RestoreContent.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include "contacts/contact_groups.h"
#include "sync/phone_state.h"

// Writes list to folder/people.dat through a temporary file; the old file is replaced only when
// the new one is complete. 0, 1, or 12 when the disk is full.
int32_t SaveContentToBackupFile(const KXContactList& list, const std::u16string& folder);

// Appends the contacts of folder/people.dat to list; their pictures land in new picture files.
// 0, 1 (a damaged file: what was read stays in list), or 12.
int32_t LoadContentFromBackupFile(RecordList<ContactRecord>* list, const std::u16string& folder);

// The match key of add-missing: given and family name; for a nameless contact the company, else
// its first number or e-mail address. Empty when the contact has none of them (never matched).
std::u16string ContactMatchKey(const ContactRecord& record);

// Every contact of the handset into folder/people.dat. The result of the read or of the save.
int32_t BackupContent(PhoneState& phone, ContactGroupCache& groups, const std::u16string& folder);

// mode 0 add missing, 1 add all, 2 replace, each optionally with KX_RESTORE_PLAN_ONLY; another mode
// returns 1 before anything is read. The result of the load, the read or the write.
int32_t RestoreContent(PhoneState& phone, ContactGroupCache& groups, const std::u16string& folder,
                       int32_t mode);
