#include "host_window.h"

#include <unistd.h>

#include <cstdio>

namespace kxsync {

HostWindow::HostWindow(bool progressBar) : progressBar_(progressBar && ::isatty(STDERR_FILENO)) {
    window_.base.proc = &HostWindow::Proc;
    window_.owner = this;
}

intptr_t HostWindow::Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value) {
    HostWindow* host = reinterpret_cast<Window*>(self)->owner;
    if (msg != KX_HOST_MESSAGE)
        return 0;
    Handler handler;
    {
        std::lock_guard<std::mutex> hold(host->lock_);
        handler = host->handler_;
    }
    if (handler)
        handler(static_cast<uint32_t>(code), value);
    if (code == KX_PROGRESS_PERCENT)
        host->DrawProgress(value);
    std::lock_guard<std::mutex> hold(host->lock_);
    host->messages_.push_back(Message{static_cast<uint32_t>(code), value});
    return 0;
}

void HostWindow::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> hold(lock_);
    handler_ = std::move(handler);
}

std::vector<Message> HostWindow::Messages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
}

void HostWindow::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.clear();
}

void HostWindow::DrawProgress(intptr_t percent) {
    if (!progressBar_)
        return;
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    constexpr int kWidth = 40;
    int filled = static_cast<int>(percent * kWidth / 100);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), ' ');
    std::lock_guard<std::mutex> hold(lock_);
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(percent));
    std::fflush(stderr);
    barShown_ = true;
}

void HostWindow::FinishProgress() {
    std::lock_guard<std::mutex> hold(lock_);
    if (barShown_)
        std::fputc('\n', stderr);
    barShown_ = false;
}

std::string HostWindow::Describe(uint32_t code) {
    static const char* const kFamilies[] = {nullptr, "progress", "contact", nullptr,    "sample item",
                                            nullptr, nullptr,    nullptr,   "calendar", nullptr,
                                            nullptr, nullptr,    nullptr,   nullptr,    "e-mail"};
    static const char* const kEvents[] = {nullptr,          "record read",  "read failed",   "read finished",
                                          "record written", "write failed", "write finished"};
    char number[16];
    std::snprintf(number, sizeof number, "0x%X", code);
    std::string text = number;
    uint32_t family = code >> 16, event = code & 0xFFFF;
    if (code == KX_PROGRESS_PERCENT)
        return text + " progress";
    if (code == KX_PROGRESS_ITEM_DONE)
        return text + " item done";
    if (code == KX_PROGRESS_ITEM_BEGIN)
        return text + " item begins";
    if (family < sizeof kFamilies / sizeof *kFamilies && kFamilies[family] && family != 4 && event >= 1 &&
        event <= 6)
        return text + " " + kFamilies[family] + " " + kEvents[event];
    if (family == 4)
        return text + " sample item event";
    return text;
}

} // namespace kxsync
