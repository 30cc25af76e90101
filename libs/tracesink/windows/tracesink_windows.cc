#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>
#include <new>
#include <string>

#include "platform/utf.h"
#include "tracesink.h"

namespace {

// The open trace file. Kept open between lines so tracing costs one write per line; reopened
// when KXPHONE_TRACE_FILE names another file or the file was deleted.
struct Sink {
    std::mutex lock;
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
};

Sink& TheSink() {
    // Outlives every caller, even during unload, and is not on the heap, so unloading the library
    // leaves nothing behind.
    alignas(Sink) static unsigned char storage[sizeof(Sink)];
    static Sink* sink = new (storage) Sink;
    return *sink;
}

std::wstring Variable(const wchar_t* name) {
    wchar_t small[512];
    DWORD n = ::GetEnvironmentVariableW(name, small, 512);
    if (n == 0)
        return {};
    if (n < 512)
        return std::wstring(small, n);
    std::wstring big(n, L'\0');
    DWORD m = ::GetEnvironmentVariableW(name, &big[0], n);
    if (m == 0 || m >= n)
        return {};
    big.resize(m);
    return big;
}

// One WriteFile per line on a handle opened for appending only: the system puts each write at
// the end as a whole, so concurrent writers, even in other processes, never split a line.
bool WriteAll(HANDLE file, const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
        DWORD n = 0;
        DWORD want = static_cast<DWORD>(line.size() - done > 0x40000000 ? 0x40000000 : line.size() - done);
        if (!::WriteFile(file, line.data() + done, want, &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

bool Reusable(const Sink& sink, const std::wstring& target) {
    if (sink.file == INVALID_HANDLE_VALUE || sink.path != target)
        return false;
    FILE_STANDARD_INFO info;
    return ::GetFileInformationByHandleEx(sink.file, FileStandardInfo, &info, sizeof info) &&
           !info.DeletePending;
}

} // namespace

extern "C" int32_t OutputString(const char16_t* tag, int32_t level, const char16_t* text) {
    (void)tag;
    (void)level;
    if (!text)
        return 0;
    std::wstring target = Variable(L"KXPHONE_TRACE_FILE");
    if (target.empty())
        return 0;
    std::string line = platform::Utf16ToUtf8(text, std::char_traits<char16_t>::length(text));
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> hold(sink.lock);
    if (target == L"-") {
        HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        return err && err != INVALID_HANDLE_VALUE && WriteAll(err, line) ? 0 : -1;
    }
    if (!Reusable(sink, target)) {
        if (sink.file != INVALID_HANDLE_VALUE)
            ::CloseHandle(sink.file);
        sink.path = target;
        sink.file = ::CreateFileW(target.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (sink.file == INVALID_HANDLE_VALUE)
            return -1;
    }
    return WriteAll(sink.file, line) ? 0 : -1;
}
