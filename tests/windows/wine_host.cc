// A Windows host for the driver DLL, as the synchronisation host uses it: LoadLibraryW, exports
// by name and by ordinal, a message-only window for message 2525. Reads contacts and events from
// kxphone-sim, writes a few contacts and reads them back. Exit 0 when every check holds.
//   wine_host.exe DLL PORT CONTACTS EVENTS
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "wine_host: FAILED: %s\n", what);
        ++g_failures;
    }
}

struct Api {
    decltype(&InitDriver) initDriver;
    decltype(&SetParam) setParam;
    decltype(&InitSync) initSync;
    decltype(&Read) read;
    decltype(&Write) write;
    decltype(&Backup) backup;
    decltype(&Restore) restore;
    decltype(&UninitSync) uninitSync;
};

// What the window saw since the last Reset.
struct Seen {
    int recordsRead = 0, recordsWritten = 0, emptyRecords = 0;
    uint32_t final = 0;
    DWORD thread = 0;
    bool otherThread = false;
    void Reset() { *this = Seen{thread}; }
    explicit Seen(DWORD t = 0) : thread(t) {}
} g_seen;

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM code, LPARAM value) {
    if (msg != KX_HOST_MESSAGE)
        return DefWindowProcW(window, msg, code, value);
    if (GetCurrentThreadId() != g_seen.thread)
        g_seen.otherThread = true;
    uint32_t event = static_cast<uint32_t>(code) & 0xFFFF, family = static_cast<uint32_t>(code) >> 16;
    if (family == KX_TYPE_CONTACT || family == KX_TYPE_CALENDAR) {
        if (event == KX_EVENT_RECORD_READ) {
            ++g_seen.recordsRead;
            if (family == KX_TYPE_CONTACT) {
                auto* record = reinterpret_cast<const ContactRecord*>(value);
                if (!record || record->GetFieldCount() == 0)
                    ++g_seen.emptyRecords;
            }
        } else if (event == KX_EVENT_RECORD_WRITTEN) {
            ++g_seen.recordsWritten;
        } else {
            g_seen.final = static_cast<uint32_t>(code);
        }
    }
    return 0;
}

double Seconds(LARGE_INTEGER from) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int ReadAll(const Api& api, int32_t type, double* seconds) {
    g_seen.Reset();
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    int32_t rc = api.read(type, 0);
    *seconds = Seconds(start);
    Check(rc == KX_OK, "Read returns 0");
    Check(g_seen.final == KXMessageCode(type, KX_EVENT_READ_FINISHED), "Read ends with its finished message");
    return g_seen.recordsRead;
}

template <class T> bool Resolve(HMODULE dll, const char* name, int ordinal, T* out) {
    FARPROC byName = GetProcAddress(dll, name);
    FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
    *out = reinterpret_cast<T>(reinterpret_cast<void*>(byName));
    std::string what = std::string(name) + " by name and by ordinal " + std::to_string(ordinal);
    Check(byName && byName == byOrdinal, what.c_str());
    return byName != nullptr;
}

// HandsetControl.dll beside the driver runs the bridge (KXPHONE_ADB, the stand-in) with an
// argument vector and kills it past its time-out.
void CheckBridge(HMODULE driver, const std::wstring& serial) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(driver, path, MAX_PATH);
    std::wstring folder(path, n);
    folder.resize(folder.find_last_of(L"\\/") + 1);
    HMODULE control = LoadLibraryW((folder + L"HandsetControl.dll").c_str());
    Check(control != nullptr, "HandsetControl.dll loads");
    if (!control)
        return;
    using Ready = int32_t (*)(const char*, int32_t, int32_t, int32_t, int32_t, int32_t);
    using Run = int32_t (*)(const char16_t*, int32_t, void*, int32_t, int32_t);
    auto ready =
        reinterpret_cast<Ready>(reinterpret_cast<void*>(GetProcAddress(control, "KX_CheckPhoneReady")));
    auto run = reinterpret_cast<Run>(reinterpret_cast<void*>(GetProcAddress(control, "KX_RunAdbCmd")));
    Check(ready && run, "HandsetControl exports");
    if (!ready || !run)
        return;
    std::string narrow(serial.begin(), serial.end());
    Check(ready(narrow.c_str(), 5037, 8182, 0, 0, 10000) == 0, "the handset is ready");
    Check(ready(nullptr, 5037, 8182, 0, 0, 10000) == -4, "no serial is a bad argument");
    DWORD start = GetTickCount();
    Check(run(u"stall", 5, nullptr, 0, 500) == -2, "a stalled bridge times out");
    Check(GetTickCount() - start < 5000, "and is killed at once");
    // The stand-in's own record of its arguments.
    wchar_t log[MAX_PATH];
    DWORD m = GetEnvironmentVariableW(L"KX_FAKE_ADB_LOG", log, MAX_PATH);
    std::string calls;
    if (m > 0 && m < MAX_PATH) {
        HANDLE file = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        char buffer[4096];
        DWORD got = 0;
        if (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr))
            calls.assign(buffer, got);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    Check(calls.find("<-s><" + narrow + "><get-state>\n<-s><" + narrow +
                     "><forward><tcp:5037><tcp:8182>\n") != std::string::npos,
          "the bridge sees the serial as one argument");
    FreeLibrary(control);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: wine_host DLL PORT CONTACTS EVENTS\n");
        return 2;
    }
    const int port = _wtoi(argv[2]), contacts = _wtoi(argv[3]), events = _wtoi(argv[4]);
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        std::fprintf(stderr, "wine_host: LoadLibraryW failed, error %lu\n", GetLastError());
        return 1;
    }

    // The sixteen slots of the export table, slot 6 empty.
    static const char* const kNames[] = {"InitDriver",  "Backup", "ClearChangeLog", "Restore",
                                         "SetParam",    nullptr,  "OnInputData",    "InitSync",
                                         "GetProfile",  "Read",   "Write",          "DeleteIO",
                                         "InquireInfo", "Verify", "Stop",           "UninitSync"};
    for (int ordinal = 1; ordinal <= 16; ++ordinal) {
        void* unused = nullptr;
        if (kNames[ordinal - 1])
            Resolve(dll, kNames[ordinal - 1], ordinal, &unused);
        else
            Check(!GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)), "slot 6 is empty");
    }
    Check(!GetProcAddress(dll, MAKEINTRESOURCEA(17)), "no slot 17");
    Check(!GetProcAddress(dll, "_Read@8"), "no decorated names");
    Api api;
    if (!Resolve(dll, "InitDriver", 1, &api.initDriver) || !Resolve(dll, "SetParam", 5, &api.setParam) ||
        !Resolve(dll, "InitSync", 8, &api.initSync) || !Resolve(dll, "Read", 10, &api.read) ||
        !Resolve(dll, "Write", 11, &api.write) || !Resolve(dll, "Backup", 2, &api.backup) ||
        !Resolve(dll, "Restore", 4, &api.restore) || !Resolve(dll, "UninitSync", 16, &api.uninitSync))
        return 1;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KXWineHost";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    Check(window != nullptr, "message-only window");
    g_seen = Seen(GetCurrentThreadId());

    uint32_t id = 0;
    api.initDriver(&id);
    Check(id == KX_DRIVER_ID, "InitDriver's id");
    std::wstring ip = L"127.0.0.1", base = L"http://127.0.0.1:" + std::to_wstring(port);
    Check(api.setParam(ip.c_str(), port, nullptr, nullptr) == KX_OK, "SetParam");
    Check(api.initSync(0, nullptr) == KX_INVALID_ARGUMENT, "InitSync without parameters");
    // A serial with a blank and a quote reaches the bridge as one argument.
    std::wstring serial = L"WINE \"7\" SER";
    InitSyncParams params{0, reinterpret_cast<KXHostWindow*>(window), port, base.c_str(), serial.c_str()};
    Check(api.initSync(0, &params) == KX_OK, "InitSync");

    double contactSeconds = 0, eventSeconds = 0, again = 0;
    int read = ReadAll(api, KX_TYPE_CONTACT, &contactSeconds);
    Check(read == contacts, "every contact read");
    Check(g_seen.emptyRecords == 0, "contacts carry fields");
    int eventsRead = ReadAll(api, KX_TYPE_CALENDAR, &eventSeconds);
    Check(eventsRead == events, "every event read");

    // Three new contacts, each with a name that needs more than ASCII.
    std::vector<ContactRecord*> list;
    for (int i = 0; i < 3; ++i) {
        auto* record = new ContactRecord();
        record->lFlag = KX_RECORD_CREATE;
        record->AddField(KX_CF_GIVEN_NAME, u"Zoë");
        record->AddField(KX_CF_FAMILY_NAME, u"Wine " + std::u16string(1, static_cast<char16_t>(u'A' + i)));
        record->AddField(KX_CF_MOBILE,
                         u"+41 79 555 01 0" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
        list.push_back(record);
    }
    g_seen.Reset();
    Check(api.write(KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&list)) == KX_OK, "Write returns 0");
    Check(g_seen.recordsWritten == 3, "three contacts confirmed");
    Check(g_seen.final == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_WRITE_FINISHED), "Write ends finished");
    for (ContactRecord* record : list) {
        Check((record->lFlag & KX_RECORD_CREATE) == 0 && !record->strPIMID.empty(),
              "created contact has an id");
        delete record;
    }
    Check(ReadAll(api, KX_TYPE_CONTACT, &again) == contacts + 3, "the written contacts read back");

    // A backup into a folder whose name needs more than ASCII, restored with add-missing: the
    // handset holds every contact already, so nothing is added.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"kx sauvegarde \u00e9t\u00e9";
    CreateDirectoryW(folder.c_str(), nullptr);
    Check(api.backup(KX_BACKUP_CONTACT, ip.c_str(), port, folder.c_str(), 0, 0) == KX_OK, "Backup");
    Check(GetFileAttributesW((folder + L"\\people.dat").c_str()) != INVALID_FILE_ATTRIBUTES,
          "people.dat written");
    Check(api.restore(KX_BACKUP_CONTACT, ip.c_str(), port, folder.c_str(), 0, KX_RESTORE_ADD_MISSING, 0) ==
              KX_OK,
          "Restore");
    Check(ReadAll(api, KX_TYPE_CONTACT, &again) == contacts + 3, "a restore of what is there adds nothing");
    Check(!g_seen.otherThread, "messages arrive on the host's thread");

    Check(api.uninitSync(0, 0) == KX_OK, "UninitSync");
    CheckBridge(dll, serial);
    DestroyWindow(window);
    Check(FreeLibrary(dll) != FALSE, "FreeLibrary");
    std::printf("wine host: %d contacts in %.2f s, %d events in %.2f s, 3 contacts written, backed up and "
                "restored; %s\n",
                read, contactSeconds, eventsRead, eventSeconds, g_failures ? "FAILED" : "ok");
    return g_failures ? 1 : 0;
}
