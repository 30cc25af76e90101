#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/utf.h"

namespace platform {

namespace {

// The path as the wide-character calls take it: backslashes, and "\\?\" before a drive path
// (which turns off the MAX_PATH limit and every rewriting of the name, hence the backslashes).
std::wstring SystemPath(const std::string& path) {
    std::u16string u = Utf8ToUtf16(path);
    std::wstring w(u.begin(), u.end());
    for (wchar_t& c : w)
        if (c == L'/')
            c = L'\\';
    if (w.size() >= 3 && w[1] == L':' && w[2] == L'\\' &&
        ((w[0] >= L'A' && w[0] <= L'Z') || (w[0] >= L'a' && w[0] <= L'z')))
        w = L"\\\\?\\" + w;
    return w;
}

} // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    if (path.empty() || path.find('\0') != std::string::npos || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    std::wstring name = SystemPath(path);
    if (!std::strchr(mode, 'x')) {
        std::u16string m = Utf8ToUtf16(mode);
        return _wfopen(name.c_str(), std::wstring(m.begin(), m.end()).c_str());
    }
    // The C runtime here knows no "x": create the file exclusively ourselves.
    bool update = std::strchr(mode, '+') != nullptr;
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE | (update ? GENERIC_READ : 0), 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS   ? EEXIST
                : error == ERROR_ACCESS_DENIED                                ? EACCES
                : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC
                                                                              : ENOENT;
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | (update ? _O_RDWR : _O_WRONLY));
    if (fd < 0) {
        ::CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, update ? "w+b" : "wb");
    if (!f)
        _close(fd);
    return f;
}

} // namespace platform
