// Message 2525 as the sample store sends it: to the phone object's host window, nothing when
// there is none.
#pragma once

#include <cstdint>

void SendSampleMessage(uint32_t code, intptr_t value);
