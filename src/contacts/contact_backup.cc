#include "driver/fake_phone.h"

// Contact backup files have not landed: the worker's starting result.
int32_t CKXFakePhone::BackupContent(const std::u16string&) {
    return KX_FAILED;
}
int32_t CKXFakePhone::RestoreContent(const std::u16string&, int32_t) {
    return KX_FAILED;
}
