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
#include "platform/windows/file_handles.h"

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

// The Env's file services: Win32 handles behind C runtime descriptors, so the Env hands out
// small non-negative numbers as on POSIX and GetLastError() tells what failed.
namespace {

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

int Descriptor(HANDLE h, int flags) {
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0)
        ::CloseHandle(h);
    return fd;
}

} // namespace

int FileCreate(const std::string& path, bool exclusive) {
    return Descriptor(::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    exclusive ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                      _O_WRONLY);
}

int FileOpenRead(const std::string& path) {
    HANDLE h = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    // Only a file on a disk: a pipe or a device could block for ever.
    if (h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return Descriptor(h, _O_RDONLY);
}

long FileRead(int fd, void* buffer, size_t length) {
    DWORD got = 0;
    DWORD want = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    return ::ReadFile(HandleOf(fd), buffer, want, &got, nullptr) ? static_cast<long>(got) : -1;
}

long FileWrite(int fd, const void* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        DWORD put = 0;
        DWORD want = length - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length - done);
        if (!::WriteFile(HandleOf(fd), static_cast<const char*>(data) + done, want, &put, nullptr))
            return done > 0 ? static_cast<long>(done) : -1;
        if (put == 0)
            break;
        done += put;
    }
    return static_cast<long>(done);
}

int FileSync(int fd) {
    return ::FlushFileBuffers(HandleOf(fd)) ? 0 : -1;
}

int FileClose(int fd) {
    return _close(fd);
}

int64_t FileSize(int fd) {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(HandleOf(fd), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

int FileRename(const std::string& from, const std::string& to) {
    return ::MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : -1;
}

int FileRemove(const std::string& path) {
    return ::DeleteFileW(SystemPath(path).c_str()) ? 0 : -1;
}

} // namespace platform
