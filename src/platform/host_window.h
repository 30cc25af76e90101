// Delivery of the driver's messages to the host's window.
#pragma once

#include <cstdint>

#include <kxphone/kxphone.h>

namespace platform {

// Sends one message to the host's window and returns when the host has handled it; a null window
// receives nothing.
intptr_t SendWindowMessage(KXHostWindow* window, uint32_t msg, uintptr_t code, intptr_t value);

// Lets the calling thread's windows handle what is queued for them while it waits for workers.
void PumpWindowMessages();

} // namespace platform
