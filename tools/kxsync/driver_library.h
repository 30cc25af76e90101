// The driver as a host sees it: a library loaded by path and its fifteen exports.
#pragma once

#include <string>

#include <kxphone/kxphone.h>

namespace kxsync {

struct DriverApi {
    decltype(&::InitDriver) InitDriver = nullptr;
    decltype(&::Backup) Backup = nullptr;
    decltype(&::ClearChangeLog) ClearChangeLog = nullptr;
    decltype(&::Restore) Restore = nullptr;
    decltype(&::SetParam) SetParam = nullptr;
    decltype(&::OnInputData) OnInputData = nullptr;
    decltype(&::InitSync) InitSync = nullptr;
    decltype(&::GetProfile) GetProfile = nullptr;
    decltype(&::Read) Read = nullptr;
    decltype(&::Write) Write = nullptr;
    decltype(&::DeleteIO) DeleteIO = nullptr;
    decltype(&::InquireInfo) InquireInfo = nullptr;
    decltype(&::Verify) Verify = nullptr;
    decltype(&::Stop) Stop = nullptr;
    decltype(&::UninitSync) UninitSync = nullptr;
};

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library and resolves every export; false with error() set when the file cannot
    // be loaded or an export is missing.
    bool Load(const std::string& path);
    void Unload();

    const DriverApi& api() const { return api_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // vexoCorsaT3.so in the folder of the running kxsync.
    static std::string DefaultPath();

private:
    void* handle_ = nullptr;
    DriverApi api_;
    std::string path_;
    std::string error_;
};

} // namespace kxsync
