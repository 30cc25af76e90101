#include "support/host_window_recorder.h"

#include <cstdio>

namespace kxtest {

HostWindowRecorder::HostWindowRecorder() {
    window_.base.proc = &HostWindowRecorder::Proc;
    window_.owner = this;
}

intptr_t HostWindowRecorder::Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value) {
    // base is the first member, so the window handed out is the whole Window.
    HostWindowRecorder* recorder = reinterpret_cast<Window*>(self)->owner;
    Hook hook;
    {
        std::lock_guard<std::mutex> hold(recorder->lock_);
        if (msg != KX_HOST_MESSAGE) {
            ++recorder->foreign_;
            return 0;
        }
        hook = recorder->hook_;
    }
    if (hook)
        hook(static_cast<uint32_t>(code), value);
    std::lock_guard<std::mutex> hold(recorder->lock_);
    recorder->messages_.push_back(HostMessage{static_cast<uint32_t>(code), value});
    return 0;
}

void HostWindowRecorder::SetHook(Hook hook) {
    std::lock_guard<std::mutex> hold(lock_);
    hook_ = std::move(hook);
}

std::vector<HostMessage> HostWindowRecorder::Messages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
}

std::vector<uint32_t> HostWindowRecorder::Codes() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<uint32_t> codes;
    codes.reserve(messages_.size());
    for (const HostMessage& m : messages_)
        codes.push_back(m.code);
    return codes;
}

std::vector<intptr_t> HostWindowRecorder::ValuesOf(uint32_t code) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<intptr_t> values;
    for (const HostMessage& m : messages_)
        if (m.code == code)
            values.push_back(m.value);
    return values;
}

size_t HostWindowRecorder::Count(uint32_t code) const {
    return ValuesOf(code).size();
}

size_t HostWindowRecorder::ForeignMessages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return foreign_;
}

void HostWindowRecorder::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.clear();
    foreign_ = 0;
}

std::string HostWindowRecorder::Describe(const std::vector<HostMessage>& messages) {
    std::string out;
    char buffer[64];
    for (const HostMessage& m : messages) {
        std::snprintf(buffer, sizeof buffer, "%s0x%X=%lld", out.empty() ? "" : " ", m.code,
                      static_cast<long long>(m.value));
        out += buffer;
    }
    return out;
}

} // namespace kxtest
