// kxsync's host window: receives message 2525 from the driver, keeps every (code, value) pair,
// draws a progress bar on stderr from 0x10002, and lets a command look at each message while a
// record pointer in it is still valid.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <kxphone/kxphone.h>

namespace kxsync {

struct Message {
    uint32_t code;
    intptr_t value;
};

class HostWindow {
public:
    using Handler = std::function<void(uint32_t code, intptr_t value)>;

    // progressBar: draw the bar (only when stderr is a terminal).
    explicit HostWindow(bool progressBar);
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    KXHostWindow* window() { return &window_.base; }

    // Runs for each message on the driver's sending thread, before it is recorded.
    void SetHandler(Handler handler);

    std::vector<Message> Messages() const;
    void Clear();
    // Ends a drawn bar with a line break.
    void FinishProgress();

    // "0x20001 contact record read", "0x10002 progress", ...
    static std::string Describe(uint32_t code);

private:
    struct Window {
        KXHostWindow base;
        HostWindow* owner;
    };
    static intptr_t Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value);
    void DrawProgress(intptr_t percent);

    Window window_;
    bool progressBar_;
    mutable std::mutex lock_;
    Handler handler_;
    std::vector<Message> messages_;
    bool barShown_ = false;
};

} // namespace kxsync
