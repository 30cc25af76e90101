#include "driver/fake_phone.h"

// Calendar backup files have not landed: the worker's starting result.
int32_t CKXFakePhone::BackupCalendar(const std::u16string&) {
    return KX_FAILED;
}
int32_t CKXFakePhone::RestoreCalendar(const std::u16string&, int32_t) {
    return KX_FAILED;
}
