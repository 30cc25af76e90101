// A host window for tests: records every message 2525 it receives as (code, value), from any
// thread. Pass window() in InitSyncParams (or install it with Install()). A hook, when set, runs
// inside the window procedure, while a record pointer passed as value is still valid, so a test
// can copy what the pointer shows.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <kxphone/kxphone.h>

namespace kxtest {

struct HostMessage {
    uint32_t code = 0;
    intptr_t value = 0;
    bool operator==(const HostMessage& o) const { return code == o.code && value == o.value; }
};

class HostWindowRecorder {
public:
    using Hook = std::function<void(uint32_t code, intptr_t value)>;

    HostWindowRecorder();
    ~HostWindowRecorder();
    HostWindowRecorder(const HostWindowRecorder&) = delete;
    HostWindowRecorder& operator=(const HostWindowRecorder&) = delete;

    KXHostWindow* window() { return &window_.base; }

    // Called for every message 2525, on the sending thread, before it is recorded.
    void SetHook(Hook hook);
    // Installs the driver's record and progress callbacks so that their calls are recorded too, in
    // one order with the messages: (kRecordCallback ^ code, value) and (kProgressCallback, percent).
    // For the recorder's lifetime; one recorder at a time.
    void RecordCallbacks();
    static constexpr uint32_t kRecordCallback = 0xCA110000, kProgressCallback = 0xCA11FFFF;

    std::vector<HostMessage> Messages() const;
    std::vector<uint32_t> Codes() const;
    // Messages whose code is code, in order.
    std::vector<intptr_t> ValuesOf(uint32_t code) const;
    size_t Count(uint32_t code) const;
    void Clear();

    // "0x20001=7 0x10002=33 ..." for failure messages.
    static std::string Describe(const std::vector<HostMessage>& messages);

private:
    struct Window {
        KXHostWindow base;
        HostWindowRecorder* owner;
    };
    static intptr_t Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value);
    static void KX_STDCALL OnRecord(uint32_t code, uintptr_t value);
    static void KX_STDCALL OnProgress(int32_t percent);
    void Add(HostMessage message);

    Window window_;
    mutable std::mutex lock_;
    Hook hook_;
    std::vector<HostMessage> messages_;
};

} // namespace kxtest
