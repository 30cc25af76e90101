#include "driver/fake_phone.h"

// Profiles are not described yet: the dispatch default.
int32_t CKXFakePhone::GetProfile(int32_t, uintptr_t) {
    return 0;
}
