#include "session.h"

#include <cstdio>

#include "platform/utf.h"

namespace kxsync {

std::atomic<uint32_t> g_recordCallbacks{0};
std::atomic<uint32_t> g_progressCallbacks{0};

namespace {

void KX_STDCALL OnRecord(uint32_t, uintptr_t) {
    ++g_recordCallbacks;
}

void KX_STDCALL OnProgress(int32_t) {
    ++g_progressCallbacks;
}

} // namespace

std::u16string Utf16(const std::string& text) {
    return platform::Utf8ToUtf16(text);
}

std::string ResultText(int32_t result) {
    const char* meaning = result == KX_OK                 ? "success"
                          : result == KX_FAILED           ? "general failure"
                          : result == KX_INVALID_ARGUMENT ? "invalid argument"
                          : result == KX_WRITE_REFUSED    ? "write refused"
                          : result == KX_STOPPED          ? "stopped"
                          : result == KX_OTHER_FAILURE    ? "other failure"
                                                          : "unknown";
    return std::to_string(result) + " (" + meaning + ")";
}

// Session lines go to stderr when stdout carries JSON lines.
static FILE* Info(const Session& session) {
    return session.options.json ? stderr : stdout;
}

bool OpenSession(Session& session) {
    const Options& o = session.options;
    uint32_t id = 0;
    session.api.InitDriver(&id);
    std::fprintf(Info(session), "InitDriver: driver id 0x%08X\n", id);

    std::u16string address = Utf16(o.address);
    int32_t result = session.api.SetParam(address.c_str(), o.port, &OnRecord, &OnProgress);
    std::fprintf(Info(session), "SetParam(%s, %d): %s\n", o.address.c_str(), o.port,
                 ResultText(result).c_str());

    std::u16string baseAddress = Utf16("http://" + o.address + ":" + std::to_string(o.port));
    std::u16string serial = Utf16(o.serial);
    InitSyncParams params{0, session.window.window(), o.port, baseAddress.c_str(), serial.c_str()};
    result = session.api.InitSync(0, &params);
    std::fprintf(Info(session), "InitSync(serial %s, port %d): %s\n", o.serial.c_str(), o.port,
                 ResultText(result).c_str());
    return result == KX_OK;
}

void CloseSession(Session& session) {
    int32_t result = session.api.UninitSync(0, 0);
    std::fprintf(Info(session), "UninitSync: %s\n", ResultText(result).c_str());
}

void PrintMessages(Session& session) {
    session.window.FinishProgress();
    std::vector<Message> messages = session.window.Messages();
    session.window.Clear();
    if (messages.empty()) {
        std::printf("  host messages: none\n");
        return;
    }
    std::printf("  host messages: %zu\n", messages.size());
    for (const Message& m : messages)
        std::printf("    %-40s value %lld\n", HostWindow::Describe(m.code).c_str(),
                    static_cast<long long>(m.value));
}

} // namespace kxsync
