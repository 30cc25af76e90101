#include "driver/sample_store_messages.h"

#include "driver/app.h"

void SendSampleMessage(uint32_t code, intptr_t value) {
    if (KXHostWindow* window = theApp.m_FakePhone.HostWindow())
        window->proc(window, KX_HOST_MESSAGE, code, value);
}
