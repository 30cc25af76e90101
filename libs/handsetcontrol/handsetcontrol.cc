#include "handsetcontrol.h"

// Not built yet: every command fails.
KX_HC_EXPORT int32_t KX_RunAdbCmd(const char16_t*, int32_t, void*, int32_t, int32_t) {
    return -1;
}
KX_HC_EXPORT int32_t KX_CheckPhoneReady(const char*, int32_t, int32_t, int32_t, int32_t, int32_t) {
    return -1;
}
