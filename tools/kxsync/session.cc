#include "session.h"

#include <chrono>
#include <cstdio>

#include "platform/utf.h"
#include "trace_watch.h"

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

// Where the session's lines go: stdout when they are the command's output, else stderr with
// --verbose, else nowhere.
static FILE* Info(const Session& session, bool print) {
    return print ? stdout : session.options.verbose ? stderr : nullptr;
}

bool OpenSession(Session& session, const std::string& address, int port, bool callbacks, bool print) {
    FILE* info = Info(session, print);
    uint32_t id = 0;
    session.api.InitDriver(&id);
    if (info)
        std::fprintf(info, "InitDriver: driver id 0x%08X\n", id);

    std::u16string ip = Utf16(address);
    int32_t result = session.api.SetParam(ip.c_str(), port, callbacks ? &OnRecord : nullptr,
                                          callbacks ? &OnProgress : nullptr);
    if (info)
        std::fprintf(info, "SetParam(%s, %d): %s\n", address.c_str(), port, ResultText(result).c_str());

    std::u16string baseAddress = Utf16("http://" + address + ":" + std::to_string(port));
    std::u16string serial = Utf16(session.options.serial);
    InitSyncParams params{0, session.window.window(), port, baseAddress.c_str(), serial.c_str()};
    result = session.api.InitSync(0, &params);
    if (info)
        std::fprintf(info, "InitSync(serial %s, port %d): %s\n", session.options.serial.c_str(), port,
                     ResultText(result).c_str());
    return result == KX_OK;
}

bool OpenSession(Session& session, bool print) {
    return OpenSession(session, session.options.address, session.options.port, true, print);
}

void CloseSession(Session& session, bool print) {
    int32_t result = session.api.UninitSync(0, 0);
    if (FILE* info = Info(session, print))
        std::fprintf(info, "UninitSync: %s\n", ResultText(result).c_str());
}

int RunInSession(Session& session, const std::function<int()>& body) {
    int status = OpenSession(session) ? body() : 1;
    CloseSession(session);
    return status;
}

int32_t TimedCall(Session& session, int32_t type, const std::function<int32_t()>& call, double* seconds) {
    session.runningType = type; // what Ctrl-C stops
    auto start = std::chrono::steady_clock::now();
    int32_t result = call();
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    session.runningType = 0;
    session.window.SetHandler(nullptr);
    session.window.FinishProgress();
    session.window.Clear();
    return result;
}

int32_t TimedRead(Session& session, int32_t type, double* seconds) {
    return TimedCall(
        session, type, [&] { return session.api.Read(type, 0); }, seconds);
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

void CatchUpTrace(Session& session) {
    if (session.trace)
        session.trace->CatchUp();
}

void PrintReadSummary(int read, const char* noun, double seconds, int skipped, const std::string& why,
                      int32_t result) {
    std::fprintf(stderr, "kxsync: %d %s read in %.2f s; %d skipped%s; Read returned %s\n", read, noun,
                 seconds, skipped, skipped > 0 && !why.empty() ? (" (" + why + ")").c_str() : "",
                 ResultText(result).c_str());
}

} // namespace kxsync
