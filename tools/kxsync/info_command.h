// "kxsync info": the phone's status and time, its properties, and a summary of every profile,
// asked through the driver's exported GetProfile and InquireInfo.
#pragma once

#include <cstdint>
#include <ostream>

#include <kxphone/kxphone.h>

namespace kxsync {

struct InfoDriverApi {
    int32_t(KX_STDCALL* GetProfile)(int32_t type, uintptr_t out);
    int32_t(KX_STDCALL* InquireInfo)(int32_t type, uintptr_t param);
};

// Writes the report to out and what failed to err; 0 when every call answered, else the first
// failing result (1 when the handset did not answer).
int RunInfoCommand(const InfoDriverApi& api, std::ostream& out, std::ostream& err);

} // namespace kxsync
