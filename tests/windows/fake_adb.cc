// Stands in for the debug bridge under Wine: appends its argument vector, as the system's parser
// reads the command line, to the file named by KX_FAKE_ADB_LOG (one line, each argument in angle
// brackets, UTF-8), answers "device" to get-state, sleeps 20 s when an argument is "stall", and
// exits 0.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 1;
    std::wstring line;
    bool state = false, stall = false;
    for (int i = 1; i < argc; ++i) {
        line += L"<" + std::wstring(argv[i]) + L">";
        state = state || std::wcscmp(argv[i], L"get-state") == 0;
        stall = stall || std::wcscmp(argv[i], L"stall") == 0;
    }
    line += L"\n";
    wchar_t log[1024];
    DWORD n = GetEnvironmentVariableW(L"KX_FAKE_ADB_LOG", log, 1024);
    if (n > 0 && n < 1024) {
        char utf8[4096];
        int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8,
                                        sizeof utf8, nullptr, nullptr);
        HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && bytes > 0)
            WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (stall)
        Sleep(20000);
    if (state)
        std::fputs("device\n", stdout);
    return 0;
}
