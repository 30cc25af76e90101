// TraceSink: where the driver's trace lines go. KXPHONE_TRACE_FILE names a file to append to,
// "-" means stderr, unset means nowhere. Safe from any thread; lines never interleave.
#pragma once

#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t OutputString(const char16_t* tag, int32_t level,
                                                                       const char16_t* text);
