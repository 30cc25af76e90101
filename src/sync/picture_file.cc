#include "sync/picture_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/env.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

int CreateIn(const std::filesystem::path& folder, std::string* path) {
    platform::Env* env = platform::Env::Current();
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = "pic";
        for (char c : env->NewUuid())
            if (c != '-' && name.size() < 3 + 12)
                name.push_back(c);
        name += ".png";
        std::string file = (folder / name).u8string();
        int fd = env->FileCreate(file, /*exclusive=*/true);
        if (fd >= 0) {
            *path = file;
            return fd;
        }
        if (!env->IsFileExists(env->LastError()))
            return -1;
    }
    return -1;
}

} // namespace

int CreatePictureFile(const char16_t* caller, std::string* path) {
    namespace fs = std::filesystem;
    fs::path folder = fs::u8path(platform::Env::Current()->AppDataDir()) / "Vexo" / "data";
    std::error_code ec;
    fs::create_directories(folder, ec);
    int fd = CreateIn(folder, path);
    if (fd >= 0)
        return fd;
    // Rather the system's temporary folder than no picture.
    KX_ERROR_LINE(caller);
    KX_TRACE_ERROR(caller, u"picture file not written in " + Utf8ToWide(folder.u8string()));
    fs::path temp = fs::temp_directory_path(ec);
    return ec ? -1 : CreateIn(temp, path);
}

bool WritePictureFile(const char16_t* caller, const std::string& bytes, std::u16string* path) {
    platform::Env* env = platform::Env::Current();
    std::string file;
    int fd = CreatePictureFile(caller, &file);
    if (fd < 0)
        return false;
    bool ok = env->FileWrite(fd, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
    ok = env->FileClose(fd) == 0 && ok;
    if (!ok) {
        KX_ERROR_LINE(caller);
        env->FileRemove(file);
        return false;
    }
    *path = Utf8ToWide(file);
    return true;
}

void RemovePictureFile(const std::u16string& path) {
    if (!path.empty())
        platform::Env::Current()->FileRemove(WideToUtf8(path));
}
