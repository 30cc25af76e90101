#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/host_window.h"

namespace platform {

intptr_t SendWindowMessage(KXHostWindow* window, uint32_t msg, uintptr_t code, intptr_t value) {
    if (!window)
        return 0;
    return static_cast<intptr_t>(::SendMessageW(reinterpret_cast<HWND>(window), msg,
                                                static_cast<WPARAM>(code), static_cast<LPARAM>(value)));
}

void PumpWindowMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace platform
