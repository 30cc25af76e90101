// The Win32 Env: Winsock 2, the tick count, Toolhelp process snapshots, UuidCreate, the module
// loader, the user's regional settings in the registry and the system's time-zone functions.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <rpc.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/env.h"
#include "platform/module_path.h"
#include "platform/utf.h"
#include "platform/windows/file_handles.h"

namespace platform {

namespace {

std::string FromWide(const wchar_t* text) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), std::wcslen(text));
}

CivilTime FromSystemTime(const SYSTEMTIME& s) {
    CivilTime c;
    c.year = s.wYear;
    c.month = s.wMonth;
    c.day = s.wDay;
    c.hour = s.wHour;
    c.minute = s.wMinute;
    c.second = s.wSecond;
    c.millisecond = s.wMilliseconds;
    return c;
}

// False for a civil time SYSTEMTIME cannot hold (the conversions below then report "unavailable"
// rather than guess).
bool ToSystemTime(const CivilTime& c, SYSTEMTIME* s) {
    if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 ||
        c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 ||
        c.millisecond < 0 || c.millisecond > 999)
        return false;
    std::memset(s, 0, sizeof *s);
    s->wYear = static_cast<WORD>(c.year);
    s->wMonth = static_cast<WORD>(c.month);
    s->wDay = static_cast<WORD>(c.day);
    s->wHour = static_cast<WORD>(c.hour);
    s->wMinute = static_cast<WORD>(c.minute);
    s->wSecond = static_cast<WORD>(c.second);
    s->wMilliseconds = static_cast<WORD>(c.millisecond);
    return true;
}

SOCKET AsSocket(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}

// Waits for one select event on fd: 1 when it came, 0 on time-out, -1 on failure.
int SelectOne(int fd, bool write, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsSocket(fd), &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(AsSocket(fd), &errors);
    timeval tv;
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    // Winsock reports a failed connect in the exception set, not as writable.
    int rc =
        ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, timeoutMs < 0 ? nullptr : &tv);
    if (rc == SOCKET_ERROR)
        return -1;
    return rc == 0 ? 0 : 1;
}

// Winsock is started on the first socket, never while the library loads: WSAStartup may load
// other libraries, which the loader lock forbids.
bool WinsockReady() {
    static const bool ready = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

class WindowsEnv : public Env {
public:
    uint32_t TickCount() override { return ::GetTickCount(); }
    void SleepMillis(uint32_t ms) override { ::Sleep(ms); }
    CivilTime UtcNow() override {
        SYSTEMTIME s;
        ::GetSystemTime(&s);
        return FromSystemTime(s);
    }
    uint32_t ThreadId() override { return ::GetCurrentThreadId(); }
    // Socket calls set the Winsock error, which is the thread's last error too.
    int LastError() override { return static_cast<int>(::GetLastError()); }

    int SocketOpen() override {
        if (!WinsockReady()) {
            ::SetLastError(WSANOTINITIALISED);
            return -1;
        }
        SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET)
            return -1;
        // Descriptors are ints in this interface; a handle that does not fit is refused.
        if (s > static_cast<SOCKET>(0x7fffffff)) {
            ::closesocket(s);
            ::SetLastError(WSAEMFILE);
            return -1;
        }
        return static_cast<int>(s);
    }
    int SocketSetLinger(int fd, bool on, int seconds) override {
        linger l;
        l.l_onoff = on ? 1 : 0;
        l.l_linger = static_cast<u_short>(seconds < 0 ? 0 : seconds > 65535 ? 65535 : seconds);
        return ::setsockopt(AsSocket(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                            sizeof l) == 0
                   ? 0
                   : -1;
    }
    int SocketConnect(int fd, const char* ip, int port) override {
        sockaddr_in a;
        std::memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        if (!ip || port < 0 || port > 65535 || ::inet_pton(AF_INET, ip, &a.sin_addr) != 1) {
            ::SetLastError(WSAEINVAL);
            return -1;
        }
        return ::connect(AsSocket(fd), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : -1;
    }
    long SocketSendWithin(int fd, const void* data, size_t length, int timeoutMs) override {
        // Never blocks in send: a peer that stops reading cannot hold the caller longer than
        // timeoutMs per call. The socket is blocking for connect and recv, non-blocking only here.
        auto sendNow = [&]() -> long {
            u_long on = 1, off = 0;
            if (::ioctlsocket(AsSocket(fd), FIONBIO, &on) != 0)
                return -1;
            int want = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
            int n = ::send(AsSocket(fd), static_cast<const char*>(data), want, 0);
            int error = ::WSAGetLastError();
            ::ioctlsocket(AsSocket(fd), FIONBIO, &off);
            if (n != SOCKET_ERROR)
                return n;
            ::WSASetLastError(error);
            return error == WSAEWOULDBLOCK ? 0 : -1;
        };
        long n = sendNow();
        if (n != 0 || length == 0)
            return n;
        int rc = SelectOne(fd, true, timeoutMs);
        return rc <= 0 ? rc : sendNow();
    }
    int SocketWaitReadable(int fd, int timeoutMs) override { return SelectOne(fd, false, timeoutMs); }
    int SocketPendingError(int fd, int* error) override {
        int len = sizeof *error;
        return ::getsockopt(AsSocket(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(error), &len) == 0
                   ? 0
                   : -1;
    }
    int SocketPendingBytes(int fd, long* count) override {
        u_long n = 0;
        if (::ioctlsocket(AsSocket(fd), FIONREAD, &n) != 0)
            return -1;
        *count = static_cast<long>(n);
        return 0;
    }
    long SocketRecv(int fd, void* buffer, size_t length) override {
        int want = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
        int n = ::recv(AsSocket(fd), static_cast<char*>(buffer), want, 0);
        return n == SOCKET_ERROR ? -1 : n;
    }
    int SocketClose(int fd) override { return ::closesocket(AsSocket(fd)) == 0 ? 0 : -1; }

    bool ListProcesses(std::vector<ProcessEntry>* out) override {
        HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE)
            return false;
        out->clear();
        PROCESSENTRY32W e;
        e.dwSize = sizeof e;
        for (BOOL more = ::Process32FirstW(snap, &e); more; more = ::Process32NextW(snap, &e)) {
            e.szExeFile[MAX_PATH - 1] = L'\0';
            std::string name = FromWide(e.szExeFile);
            // Names compare as on other systems, without the program suffix.
            if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0)
                name.resize(name.size() - 4);
            out->push_back(ProcessEntry{static_cast<int>(e.th32ProcessID), name});
        }
        ::CloseHandle(snap);
        return true;
    }
    bool TerminateProcess(int pid) override {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
        if (!process)
            return false;
        BOOL ok = ::TerminateProcess(process, static_cast<UINT>(-1));
        DWORD error = ::GetLastError();
        ::CloseHandle(process);
        ::SetLastError(error);
        return ok != FALSE;
    }

    std::string NewUuid() override {
        UUID u;
        if (::UuidCreate(&u) != RPC_S_OK)
            return {};
        RPC_WSTR text = nullptr;
        if (::UuidToStringW(&u, &text) != RPC_S_OK || !text)
            return {};
        std::string out = FromWide(reinterpret_cast<const wchar_t*>(text));
        ::RpcStringFreeW(&text);
        return out;
    }

    std::string OwnModulePath() override {
        HMODULE self = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  reinterpret_cast<LPCWSTR>(&Env::Default), &self))
            return {};
        // Long paths need room beyond MAX_PATH; grow until the name fits.
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            DWORD n = ::GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
            if (n == 0)
                return {};
            if (n < path.size()) {
                path.resize(n);
                return FromWide(path.c_str());
            }
            if (path.size() >= 32768)
                return {};
            path.resize(path.size() * 2);
        }
    }
    void* OpenModule(const std::string& path) override {
        std::u16string wide = Utf8ToUtf16(path);
        return reinterpret_cast<void*>(::LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str())));
    }
    void* ModuleSymbol(void* module, const char* name) override {
        return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
    }
    void CloseModule(void* module) override { ::FreeLibrary(static_cast<HMODULE>(module)); }

    int FirstWeekday() override {
        // The user's regional setting, a decimal text of at most 10 bytes: 0 Monday ... 6 Sunday.
        wchar_t value[6] = {0};
        DWORD size = 10;
        DWORD type = 0;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return 0;
        LONG rc = ::RegQueryValueExW(key, L"iFirstDayOfWeek", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                     &size);
        ::RegCloseKey(key);
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return 0;
        int day = 0;
        int digits = 0;
        for (const wchar_t* c = value; *c >= L'0' && *c <= L'9'; ++c, ++digits)
            day = day * 10 + (*c - L'0');
        if (digits == 0 || day > 6)
            return 0;
        return (day + 1) % 7;
    }

    std::string AppDataDir() override {
        wchar_t* folder = nullptr;
        std::string out;
        if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)) && folder)
            out = FromWide(folder);
        ::CoTaskMemFree(folder);
        return out;
    }

    bool LocalToUtc(const CivilTime& local, CivilTime* utc) override {
        SYSTEMTIME in, out;
        if (!ToSystemTime(local, &in) || !::TzSpecificLocalTimeToSystemTime(nullptr, &in, &out))
            return false;
        *utc = FromSystemTime(out);
        return true;
    }
    bool UtcToLocal(const CivilTime& utc, CivilTime* local) override {
        SYSTEMTIME in, out;
        if (!ToSystemTime(utc, &in) || !::SystemTimeToTzSpecificLocalTime(nullptr, &in, &out))
            return false;
        *local = FromSystemTime(out);
        return true;
    }
    int ZoneBiasMinutes() override {
        TIME_ZONE_INFORMATION zone;
        if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID)
            return 0;
        return static_cast<int>(zone.Bias);
    }

    int FileCreate(const std::string& path, bool exclusive) override {
        return platform::FileCreate(path, exclusive);
    }
    int FileOpenRead(const std::string& path) override { return platform::FileOpenRead(path); }
    long FileRead(int file, void* buffer, size_t length) override {
        return platform::FileRead(file, buffer, length);
    }
    long FileWrite(int file, const void* data, size_t length) override {
        return platform::FileWrite(file, data, length);
    }
    int FileSync(int file) override { return platform::FileSync(file); }
    int FileClose(int file) override { return platform::FileClose(file); }
    int64_t FileSize(int file) override { return platform::FileSize(file); }
    int FileRename(const std::string& from, const std::string& to) override {
        return platform::FileRename(from, to);
    }
    int FileRemove(const std::string& path) override { return platform::FileRemove(path); }
    int DiskFullError() override { return ERROR_DISK_FULL; }
    bool IsDiskFull(int error) override {
        return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    }
    bool IsFileExists(int error) override {
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    }
};

} // namespace

Env* Env::Default() {
    // Never destroyed (used while the library unloads), and not on the heap, so unloading the
    // library leaves nothing behind.
    alignas(WindowsEnv) static unsigned char storage[sizeof(WindowsEnv)];
    static WindowsEnv* env = new (storage) WindowsEnv;
    return env;
}

std::string SiblingModulePath(const std::string& modulePath, const char* baseName) {
    size_t slash = modulePath.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
    return folder + baseName + ".dll";
}

} // namespace platform
