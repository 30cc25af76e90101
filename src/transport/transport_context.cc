#include "transport/transport_context.h"

#include <kxphone/kxphone.h>

#include "platform/format.h"
#include "trace/trace.h"

namespace {
std::atomic<TransportContext*> installed{nullptr};
} // namespace

TransportContext& TransportContext::Current() {
    if (TransportContext* context = installed.load())
        return *context;
    static TransportContext builtIn;
    return builtIn;
}

void TransportContext::Install(TransportContext* context) {
    installed.store(context);
}

int TransportContext::MilliSleep(uint32_t count) {
    platform::Env* e = env();
    for (uint32_t i = 0; i < count; ++i) {
        if (CancelFlag.load()) {
            KX_ERROR_LINE(u"CKXPhoneApp::MilliSleep");
            return KX_STOPPED;
        }
        e->SleepMillis(1);
    }
    return 0;
}

void TransportContext::RenewTaskStamp() {
    std::u16string stamp = platform::Format(u"%010u_", env()->TickCount());
    std::lock_guard<std::mutex> hold(lock_);
    taskStamp_ = stamp;
}

std::u16string TransportContext::TaskStamp() const {
    std::lock_guard<std::mutex> hold(lock_);
    return taskStamp_;
}

void TransportContext::SetServiceAddress(const std::u16string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    serviceAddress_ = address;
}

void TransportContext::SetDeviceSerial(const std::u16string& deviceSerial) {
    std::lock_guard<std::mutex> hold(lock_);
    deviceSerial_ = deviceSerial;
}

std::u16string TransportContext::ServiceAddress() const {
    std::lock_guard<std::mutex> hold(lock_);
    return serviceAddress_;
}

std::u16string TransportContext::DeviceSerial() const {
    std::lock_guard<std::mutex> hold(lock_);
    return deviceSerial_;
}

// The totals are atomic counters: taking ResetLock here would hold a finished request (or the
// start of a task) behind another thread's bridge reset for its whole wait.
void TransportContext::ResetRequestStats() {
    statsWithoutRetry_ = 0;
    statsWithRetry_ = 0;
}

void TransportContext::AddRequestTime(bool withRetry, uint32_t ms) {
    (withRetry ? statsWithRetry_ : statsWithoutRetry_) += ms;
}
