#include "driver_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace kxsync {

namespace {

template <class Function> bool Resolve(void* handle, const char* name, Function* out, std::string* error) {
    void* symbol = ::dlsym(handle, name);
    if (!symbol) {
        *error = std::string("the driver has no export ") + name;
        return false;
    }
    *out = reinterpret_cast<Function>(symbol);
    return true;
}

} // namespace

DriverLibrary::~DriverLibrary() {
    Unload();
}

std::string DriverLibrary::DefaultPath() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "vexoCorsaT3.so";
    std::string path(self, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "vexoCorsaT3.so";
}

bool DriverLibrary::Load(const std::string& path) {
    Unload();
    // An absolute path, so the driver finds its sibling libraries however it was named here.
    char resolved[PATH_MAX];
    path_ = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        error_ = "cannot load " + path_ + ": " + (why ? why : "unknown error");
        return false;
    }
    DriverApi api;
    bool ok =
        Resolve(handle_, "InitDriver", &api.InitDriver, &error_) &&
        Resolve(handle_, "Backup", &api.Backup, &error_) &&
        Resolve(handle_, "ClearChangeLog", &api.ClearChangeLog, &error_) &&
        Resolve(handle_, "Restore", &api.Restore, &error_) &&
        Resolve(handle_, "SetParam", &api.SetParam, &error_) &&
        Resolve(handle_, "OnInputData", &api.OnInputData, &error_) &&
        Resolve(handle_, "InitSync", &api.InitSync, &error_) &&
        Resolve(handle_, "GetProfile", &api.GetProfile, &error_) &&
        Resolve(handle_, "Read", &api.Read, &error_) && Resolve(handle_, "Write", &api.Write, &error_) &&
        Resolve(handle_, "DeleteIO", &api.DeleteIO, &error_) &&
        Resolve(handle_, "InquireInfo", &api.InquireInfo, &error_) &&
        Resolve(handle_, "Verify", &api.Verify, &error_) && Resolve(handle_, "Stop", &api.Stop, &error_) &&
        Resolve(handle_, "UninitSync", &api.UninitSync, &error_);
    if (!ok) {
        Unload();
        return false;
    }
    api_ = api;
    return true;
}

void DriverLibrary::Unload() {
    api_ = DriverApi();
    if (handle_)
        ::dlclose(handle_);
    handle_ = nullptr;
}

} // namespace kxsync
