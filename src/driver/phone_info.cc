#include "driver/app.h"

// Phone information is not answered yet: the dispatch default.
int32_t CKXFakePhone::Inquire(int32_t, uintptr_t) {
    theApp.ResetRequestStats();
    return 0;
}
