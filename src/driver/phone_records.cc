// The phone object's contact and calendar operations: thin entries that hand the record layers
// what they need of the phone.
#include "calendar/calendar_backup.h"
#include "calendar/calendar_changelog.h"
#include "calendar/calendar_read.h"
#include "calendar/calendar_write.h"
#include "contacts/contact_backup.h"
#include "contacts/contact_changelog.h"
#include "contacts/contact_read.h"
#include "contacts/contact_write.h"
#include "driver/fake_phone.h"

int32_t CKXFakePhone::ReadContact(RecordList<ContactRecord>* list) {
    return ReadContacts(*this, m_ContactGroups, list);
}

int32_t CKXFakePhone::ReadCalendar(uint32_t flags, RecordList<CalendarRecord>* list) {
    return RunCalendarRead(*this, flags, list);
}

int32_t CKXFakePhone::ReadContactWithChangeLog(uint32_t) {
    return ReadContactsWithChangeLog(*this, m_ContactGroups);
}

int32_t CKXFakePhone::ReadCalendarWithChangeLog(uint32_t) {
    return RunCalendarChangeLogRead(*this);
}

int32_t CKXFakePhone::WriteContact(const KXContactList* records, bool silent) {
    return WriteContacts(*this, m_ContactGroups, records, silent);
}

int32_t CKXFakePhone::WriteCalendar(const KXCalendarList* records, bool quiet) {
    return WriteCalendars(*this, records, quiet);
}

// A stopped backup or restore must not end the next one at once.
int32_t CKXFakePhone::BackupContent(const std::u16string& folder) {
    int32_t result = ::BackupContent(*this, m_ContactGroups, folder);
    StopFlag = false;
    return result;
}
int32_t CKXFakePhone::RestoreContent(const std::u16string& folder, int32_t mode) {
    int32_t result = ::RestoreContent(*this, m_ContactGroups, folder, mode);
    StopFlag = false;
    return result;
}
int32_t CKXFakePhone::BackupCalendar(const std::u16string& folder) {
    int32_t result = ::BackupCalendar(*this, folder);
    StopFlag = false;
    return result;
}
int32_t CKXFakePhone::RestoreCalendar(const std::u16string& folder, int32_t mode) {
    int32_t result = ::RestoreCalendar(*this, folder, mode);
    StopFlag = false;
    return result;
}
