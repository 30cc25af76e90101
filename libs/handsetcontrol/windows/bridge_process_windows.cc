// The bridge runs in a job object of its own so that a time-out kills whatever it started as
// well. Its command line is built from the argument vector with the quoting the C runtime's
// parser undoes, so every argument arrives as one, unchanged.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "bridge_process.h"
#include "platform/utf.h"

namespace {

std::wstring Wide(const std::string& text) {
    std::u16string u = platform::Utf8ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

// Appends one argument so that CommandLineToArgvW and the C runtime read it back unchanged.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
    if (!line->empty())
        line->push_back(L' ');
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line->append(arg);
        return;
    }
    line->push_back(L'"');
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++i;
            ++slashes;
        }
        if (i == arg.size()) {
            line->append(slashes * 2, L'\\'); // before the closing quote
            break;
        }
        if (arg[i] == L'"')
            line->append(slashes * 2 + 1, L'\\');
        else
            line->append(slashes, L'\\');
        line->push_back(arg[i]);
    }
    line->push_back(L'"');
}

// Reads what the pipe holds without blocking (a bridge server the child left behind may keep
// the pipe open for ever).
void Drain(HANDLE pipe, std::string* output) {
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0)
            return;
        char buffer[512];
        DWORD n = 0;
        if (!::ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &n, nullptr) ||
            n == 0)
            return;
        if (output->size() < 65536)
            output->append(buffer, n);
    }
}

struct Handles {
    HANDLE process = nullptr, thread = nullptr, job = nullptr, readEnd = nullptr, writeEnd = nullptr,
           nul = INVALID_HANDLE_VALUE;
    ~Handles() {
        for (HANDLE h : {process, thread, job, readEnd, writeEnd})
            if (h)
                ::CloseHandle(h);
        if (nul != INVALID_HANDLE_VALUE)
            ::CloseHandle(nul);
    }
};

} // namespace

int32_t RunBridge(const std::vector<std::string>& args, Clock::time_point deadline, std::string* output) {
    std::wstring line;
    AppendQuoted(&line, Wide(BridgeProgram()));
    for (const std::string& a : args)
        AppendQuoted(&line, Wide(a));
    if (line.size() >= 32767)
        return kBadArguments;

    Handles h;
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    h.nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
    if (h.nul == INVALID_HANDLE_VALUE)
        return kNotStarted;
    if (output) {
        if (!::CreatePipe(&h.readEnd, &h.writeEnd, &inherit, 0) ||
            !::SetHandleInformation(h.readEnd, HANDLE_FLAG_INHERIT, 0))
            return kNotStarted;
    }
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = h.nul;
    si.hStdOutput = output ? h.writeEnd : h.nul;
    si.hStdError = h.nul;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    h.job = ::CreateJobObjectW(nullptr, nullptr);
    // Started suspended so that it is in the job before it can start anything itself.
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                          nullptr, nullptr, &si, &pi))
        return kNotStarted;
    h.process = pi.hProcess;
    h.thread = pi.hThread;
    if (h.job && !::AssignProcessToJobObject(h.job, h.process)) {
        ::CloseHandle(h.job);
        h.job = nullptr;
    }
    ::ResumeThread(h.thread);
    if (h.writeEnd) {
        ::CloseHandle(h.writeEnd); // the child holds its own copy
        h.writeEnd = nullptr;
    }

    bool exited = false;
    for (;;) {
        auto now = Clock::now();
        DWORD wait = 0;
        if (now < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            wait = static_cast<DWORD>(left < 10 ? left : 10);
        }
        if (::WaitForSingleObject(h.process, wait) == WAIT_OBJECT_0) {
            exited = true;
            break;
        }
        if (output)
            Drain(h.readEnd, output);
        if (Clock::now() >= deadline)
            break;
    }
    if (!exited) {
        if (!h.job || !::TerminateJobObject(h.job, static_cast<UINT>(-1)))
            ::TerminateProcess(h.process, static_cast<UINT>(-1));
        ::WaitForSingleObject(h.process, INFINITE);
        return kTimedOut;
    }
    if (output)
        Drain(h.readEnd, output);
    DWORD code = 0;
    if (!::GetExitCodeProcess(h.process, &code))
        return kNotStarted;
    // An exception status ended it, as a signal would elsewhere.
    return code >= 0xC0000000u ? kKilledBySignal : static_cast<int32_t>(code);
}
