#include "driver/fake_phone.h"

// The contact reader has not landed: no handler.
int32_t CKXFakePhone::ReadContact(RecordList<ContactRecord>*) {
    return KX_FAILED;
}
