#include "platform/host_window.h"

namespace platform {

intptr_t SendWindowMessage(KXHostWindow* window, uint32_t msg, uintptr_t code, intptr_t value) {
    return window && window->proc ? window->proc(window, msg, code, value) : 0;
}

// Sends are plain calls of the window procedure here: nothing ever queues.
void PumpWindowMessages() {}

} // namespace platform
