// Calendar events to and from the backup file "calendar.dat" in a folder the host names, and the
// restore in its three modes. Behind CKXFakePhone::BackupCalendar and RestoreCalendar.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

#include "sync/phone_state.h"

// Writes list to folder/calendar.dat through a temporary file; the old file is replaced only when
// the new one is complete. 0, 1, or 12 when the disk is full.
int32_t SaveCalendarToBackupFile(const KXCalendarList& list, const std::u16string& folder);

// Appends the events of folder/calendar.dat to list. 0, or 1 for a damaged file (what was read
// stays in list).
int32_t LoadCalendarFromBackupFile(RecordList<CalendarRecord>* list, const std::u16string& folder);

// The match key of add-missing: the title; for an untitled event the start as well.
std::u16string EventMatchKey(const CalendarRecord& record);

// Every event of the handset (exception lists included) into folder/calendar.dat.
int32_t BackupCalendar(PhoneState& phone, const std::u16string& folder);

// mode as for RestoreContent. A replace deletes every event of the handset; re-created events go
// back to the calendar they were backed up from.
int32_t RestoreCalendar(PhoneState& phone, const std::u16string& folder, int32_t mode);
