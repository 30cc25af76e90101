#include "driver/fake_phone.h"

// The calendar reader has not landed: no handler.
int32_t CKXFakePhone::ReadCalendar(uint32_t, RecordList<CalendarRecord>*) {
    return KX_FAILED;
}
