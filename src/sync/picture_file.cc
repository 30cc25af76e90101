#include "sync/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/env.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kNameDigits = 12;
const char kPrefix[] = "pic";
const char kExtension[] = ".png";

fs::path PictureFolder() {
    return fs::u8path(platform::Env::Current()->AppDataDir()) / "Vexo" / "data";
}

std::string NameOf(uint64_t digits) {
    static const char kHex[] = "0123456789abcdef";
    std::string name = kPrefix;
    for (size_t i = 0; i < kNameDigits; ++i)
        name.push_back(kHex[(digits >> (4 * (kNameDigits - 1 - i))) & 15]);
    return name + kExtension;
}

bool IsPictureName(const std::string& name) {
    const size_t prefix = sizeof kPrefix - 1, extension = sizeof kExtension - 1;
    if (name.size() != prefix + kNameDigits + extension || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(prefix + kNameDigits, extension, kExtension) != 0)
        return false;
    for (size_t i = prefix; i < prefix + kNameDigits; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

// Eight bytes at a time through a multiply and shift (a byte-at-a-time hash cost as much as
// writing the file), then the attempt mixed in: a name that is taken by other bytes moves on to
// the next. Only needs to be stable on one machine between runs.
uint64_t NameDigits(const std::string& bytes, uint64_t attempt) {
    constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    auto mix = [](uint64_t h, uint64_t word) {
        h = (h ^ word) * kOdd;
        return h ^ (h >> 31);
    };
    uint64_t h = bytes.size() * 0xC2B2AE3D27D4EB4Full;
    size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        h = mix(h, word);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + at, bytes.size() - at);
    h = mix(mix(h, tail), attempt + 1);
    h ^= h >> 29;
    return h * 0xBF58476D1CE4E5B9ull;
}

// True when the file holds exactly bytes.
bool HoldsBytes(const std::string& file, const std::string& bytes) {
    platform::Env* env = platform::Env::Current();
    int fd = env->FileOpenRead(file);
    if (fd < 0)
        return false;
    bool same = env->FileSize(fd) == static_cast<int64_t>(bytes.size());
    std::vector<char> chunk(same ? std::min<size_t>(bytes.size(), 65536) : 0);
    for (size_t at = 0; same && at < bytes.size();) {
        long n = env->FileRead(fd, chunk.data(), std::min(chunk.size(), bytes.size() - at));
        same = n > 0 && bytes.compare(at, static_cast<size_t>(n), chunk.data(), static_cast<size_t>(n)) == 0;
        at += n > 0 ? static_cast<size_t>(n) : 0;
    }
    env->FileClose(fd);
    return same;
}

int CreateIn(const fs::path& folder, std::string* path) {
    platform::Env* env = platform::Env::Current();
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = kPrefix;
        for (char c : env->NewUuid())
            if (c != '-' && name.size() < sizeof kPrefix - 1 + kNameDigits)
                name.push_back(c);
        name += kExtension;
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

bool WriteAll(int fd, const std::string& bytes) {
    platform::Env* env = platform::Env::Current();
    bool ok = env->FileWrite(fd, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
    return env->FileClose(fd) == 0 && ok;
}

// The file named by the bytes in folder, found or written; false when neither was possible.
bool NamedByBytes(const fs::path& folder, const std::string& bytes, std::string* path) {
    platform::Env* env = platform::Env::Current();
    for (uint64_t attempt = 0; attempt < 16; ++attempt) {
        std::string file = (folder / NameOf(NameDigits(bytes, attempt))).u8string();
        int fd = env->FileCreate(file, /*exclusive=*/true);
        if (fd < 0) {
            if (!env->IsFileExists(env->LastError()))
                return false;
            if (!HoldsBytes(file, bytes))
                continue;
            // Written again as far as the end-of-session removal is concerned.
            std::error_code ec;
            fs::last_write_time(file, fs::file_time_type::clock::now(), ec);
            *path = file;
            return true;
        }
        if (!WriteAll(fd, bytes)) {
            env->FileRemove(file);
            return false;
        }
        *path = file;
        return true;
    }
    return false;
}

bool WriteOwn(const fs::path& folder, const std::string& bytes, std::string* path) {
    int fd = CreateIn(folder, path);
    if (fd < 0)
        return false;
    if (WriteAll(fd, bytes))
        return true;
    platform::Env::Current()->FileRemove(*path);
    return false;
}

} // namespace

int CreatePictureFile(const char16_t* caller, std::string* path) {
    fs::path folder = PictureFolder();
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

bool WritePictureFile(const char16_t* caller, const std::string& bytes, std::u16string* path, bool shared) {
    fs::path folder = PictureFolder();
    std::error_code ec;
    std::string file;
    auto write = [&] { return shared ? NamedByBytes(folder, bytes, &file) : WriteOwn(folder, bytes, &file); };
    // The folder is made when a file cannot be made in it, not looked for before every picture.
    bool written = write();
    if (!written && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        written = write();
    }
    if (written) {
        *path = Utf8ToWide(file);
        return true;
    }
    // Rather a file of its own in the system's temporary folder than no picture.
    KX_ERROR_LINE(caller);
    KX_TRACE_ERROR(caller, u"picture file not written in " + Utf8ToWide(folder.u8string()));
    fs::path temp = fs::temp_directory_path(ec);
    int fd = ec ? -1 : CreateIn(temp, &file);
    if (fd < 0 || !WriteAll(fd, bytes)) {
        if (fd >= 0)
            platform::Env::Current()->FileRemove(file);
        KX_ERROR_LINE(caller);
        return false;
    }
    *path = Utf8ToWide(file);
    return true;
}

void RemovePictureFile(const std::u16string& path) {
    if (!path.empty())
        platform::Env::Current()->FileRemove(WideToUtf8(path));
}

void PictureSession::Begin() {
    std::lock_guard<std::mutex> guard(lock_);
    referred_.clear();
    fullRead_ = false;
    begun_ = fs::file_time_type::clock::now();
}

void PictureSession::Refer(const std::u16string& path) {
    if (path.empty())
        return;
    std::lock_guard<std::mutex> guard(lock_);
    referred_.insert(fs::u8path(WideToUtf8(path)).filename().u8string());
}

void PictureSession::FullReadDone() {
    std::lock_guard<std::mutex> guard(lock_);
    fullRead_ = true;
}

size_t PictureSession::End() {
    std::lock_guard<std::mutex> guard(lock_);
    size_t removed = 0;
    if (fullRead_) {
        std::error_code ec;
        for (fs::directory_iterator it(PictureFolder(), ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().u8string();
            std::error_code timeError;
            fs::file_time_type written = fs::last_write_time(it->path(), timeError);
            if (!IsPictureName(name) || referred_.count(name) || timeError || written >= begun_)
                continue;
            removed += platform::Env::Current()->FileRemove(it->path().u8string()) == 0;
        }
    }
    referred_.clear();
    fullRead_ = false;
    return removed;
}
