#include "support/host_window_recorder.h"

#include <cstdio>

#include "driver/app.h"

namespace kxtest {

namespace {

std::mutex g_callbacksLock;
HostWindowRecorder* g_callbacksTo = nullptr; // the recorder the callbacks feed

} // namespace

HostWindowRecorder::HostWindowRecorder() {
    window_.base.proc = &HostWindowRecorder::Proc;
    window_.owner = this;
}

HostWindowRecorder::~HostWindowRecorder() {
    std::lock_guard<std::mutex> hold(g_callbacksLock);
    if (g_callbacksTo == this)
        g_callbacksTo = nullptr;
}

void HostWindowRecorder::RecordCallbacks() {
    {
        std::lock_guard<std::mutex> hold(g_callbacksLock);
        g_callbacksTo = this;
    }
    theApp.m_FakePhone.RecordCallback = &OnRecord;
    theApp.m_FakePhone.ProgressCallback = &OnProgress;
}

void KX_STDCALL HostWindowRecorder::OnRecord(uint32_t code, uintptr_t value) {
    std::lock_guard<std::mutex> hold(g_callbacksLock);
    if (g_callbacksTo)
        g_callbacksTo->Add({kRecordCallback ^ code, static_cast<intptr_t>(value)});
}

void KX_STDCALL HostWindowRecorder::OnProgress(int32_t percent) {
    std::lock_guard<std::mutex> hold(g_callbacksLock);
    if (g_callbacksTo)
        g_callbacksTo->Add({kProgressCallback, percent});
}

void HostWindowRecorder::Add(HostMessage message) {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(message);
}

intptr_t HostWindowRecorder::Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value) {
    // base is the first member, so the window handed out is the whole Window.
    HostWindowRecorder* recorder = reinterpret_cast<Window*>(self)->owner;
    if (msg != KX_HOST_MESSAGE)
        return 0;
    Hook hook;
    {
        std::lock_guard<std::mutex> hold(recorder->lock_);
        hook = recorder->hook_;
    }
    if (hook)
        hook(static_cast<uint32_t>(code), value);
    recorder->Add({static_cast<uint32_t>(code), value});
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

void HostWindowRecorder::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.clear();
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
