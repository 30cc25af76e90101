// The Env's file services on Windows (file_windows.cc): the same contracts as platform::Env's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

int FileCreate(const std::string& path, bool exclusive);
int FileOpenRead(const std::string& path);
long FileRead(int fd, void* buffer, size_t length);
long FileWrite(int fd, const void* data, size_t length);
int FileSync(int fd);
int FileClose(int fd);
int64_t FileSize(int fd);
int FileRename(const std::string& from, const std::string& to);
int FileRemove(const std::string& path);

} // namespace platform
