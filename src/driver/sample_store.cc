#include "driver/fake_phone.h"

// The sample store is not filled yet: the dispatch defaults.
int32_t CKXFakePhone::SampleRead(int32_t, uintptr_t) {
    return KX_FAILED;
}
int32_t CKXFakePhone::SampleWrite(int32_t, uintptr_t) {
    return KX_FAILED;
}
int32_t CKXFakePhone::SampleDelete(int32_t, uintptr_t) {
    return 0;
}
int32_t CKXFakePhone::SampleVerify(int32_t, uintptr_t) {
    return 0;
}
