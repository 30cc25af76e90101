// The POSIX Env: BSD sockets, /proc, dlopen, libuuid, the process TZ and the LC_TIME locale.
#include "platform/env.h"
#include "platform/module_path.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <thread>

namespace platform {

namespace {

// Waits for one poll event on fd: 1 when it came, 0 on time-out or interruption, -1 on failure.
int PollOne(int fd, short events, int timeoutMs) {
    struct pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0)
        return errno == EINTR ? 0 : -1;
    return rc == 0 ? 0 : 1;
}

CivilTime FromTm(const struct tm& t) {
    CivilTime c;
    c.year = t.tm_year + 1900;
    c.month = t.tm_mon + 1;
    c.day = t.tm_mday;
    c.hour = t.tm_hour;
    c.minute = t.tm_min;
    c.second = t.tm_sec;
    return c;
}

struct tm ToTm(const CivilTime& c) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    t.tm_isdst = -1;
    return t;
}

class PosixEnv : public Env {
public:
    uint32_t TickCount() override {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
    void SleepMillis(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    CivilTime UtcNow() override {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        struct tm t;
        gmtime_r(&ts.tv_sec, &t);
        CivilTime c = FromTm(t);
        c.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
        return c;
    }
    uint32_t ThreadId() override {
        // Asked for every trace line: the kernel is asked once per thread (a plain number needs
        // no destructor, so thread-local storage is safe for it).
        static thread_local uint32_t id = 0;
        if (id == 0)
            id = static_cast<uint32_t>(::syscall(SYS_gettid));
        return id;
    }
    int LastError() override { return errno; }

    int SocketOpen() override { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
    int SocketSetLinger(int fd, bool on, int seconds) override {
        struct linger l;
        l.l_onoff = on ? 1 : 0;
        l.l_linger = seconds;
        return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    int SocketConnect(int fd, const char* ip, int port) override {
        struct sockaddr_in a;
        std::memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, ip, &a.sin_addr) != 1) {
            errno = EINVAL;
            return -1;
        }
        int rc;
        do {
            rc = ::connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a);
        } while (rc != 0 && errno == EINTR);
        return rc;
    }
    long SocketSendWithin(int fd, const void* data, size_t length, int timeoutMs) override {
        // Never blocks in send: a peer that stops reading cannot hold the caller longer than
        // timeoutMs per call.
        auto sendNow = [&]() -> long {
            ssize_t n;
            do {
                n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            } while (n < 0 && errno == EINTR);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return 0;
            return static_cast<long>(n);
        };
        long n = sendNow();
        if (n != 0 || length == 0)
            return n;
        int rc = PollOne(fd, POLLOUT, timeoutMs);
        return rc <= 0 ? rc : sendNow();
    }
    int SocketWaitReadable(int fd, int timeoutMs) override { return PollOne(fd, POLLIN, timeoutMs); }
    int SocketPendingError(int fd, int* error) override {
        socklen_t len = sizeof *error;
        return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, error, &len);
    }
    int SocketPendingBytes(int fd, long* count) override {
        int n = 0;
        if (::ioctl(fd, FIONREAD, &n) != 0)
            return -1;
        *count = n;
        return 0;
    }
    long SocketRecv(int fd, void* buffer, size_t length) override {
        ssize_t n;
        do {
            n = ::recv(fd, buffer, length, 0);
        } while (n < 0 && errno == EINTR);
        return static_cast<long>(n);
    }
    int SocketClose(int fd) override { return ::close(fd); }

    bool ListProcesses(std::vector<ProcessEntry>* out) override {
        DIR* d = ::opendir("/proc");
        if (!d)
            return false;
        out->clear();
        while (struct dirent* e = ::readdir(d)) {
            char* end = nullptr;
            long pid = std::strtol(e->d_name, &end, 10);
            if (*e->d_name == '\0' || *end != '\0' || pid <= 0)
                continue;
            std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
            std::string name;
            if (!std::getline(comm, name))
                continue; // gone meanwhile
            out->push_back(ProcessEntry{static_cast<int>(pid), name});
        }
        ::closedir(d);
        return true;
    }
    bool TerminateProcess(int pid) override { return ::kill(pid, SIGKILL) == 0; }

    std::string NewUuid() override {
        uuid_t u;
        uuid_generate(u);
        char text[37];
        uuid_unparse_lower(u, text);
        return text;
    }

    std::string OwnModulePath() override {
        Dl_info info;
        if (::dladdr(reinterpret_cast<void*>(&Env::Default), &info) == 0 || !info.dli_fname ||
            !*info.dli_fname)
            return {};
        // Code linked into the program reports the program as it was started (maybe relative to
        // the working directory at start); make it absolute.
        if (info.dli_fname[0] == '/')
            return info.dli_fname;
        char resolved[PATH_MAX];
        if (::realpath(info.dli_fname, resolved))
            return resolved;
        ssize_t n = ::readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (n <= 0)
            return info.dli_fname;
        resolved[n] = '\0';
        return resolved;
    }
    void* OpenModule(const std::string& path) override {
        return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    void* ModuleSymbol(void* module, const char* name) override { return ::dlsym(module, name); }
    void CloseModule(void* module) override { ::dlclose(module); }

    int FirstWeekday() override {
        // Opening the locale reads its files, and a calendar read asks once per event: the answer
        // is kept for as long as the environment names the same locale.
        std::string names;
        for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
            const char* value = std::getenv(variable);
            names += value ? value : "";
            names += '\0';
        }
        std::lock_guard<std::mutex> hold(weekdayLock_);
        if (weekdayLocale_ != names || weekday_ < 0) {
            weekday_ = LocaleFirstWeekday();
            weekdayLocale_ = names;
        }
        return weekday_;
    }

    static int LocaleFirstWeekday() {
        // The locale names the first weekday relative to its week-1 reference day.
        locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
        if (loc == static_cast<locale_t>(0))
            return 0;
        int first = *::nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, loc); // 1 = reference day
        // glibc hands the reference day back as a 32-bit number in the pointer; the upper half
        // of the pointer is whatever the union held before.
        long ref = static_cast<long>(
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(::nl_langinfo_l(_NL_TIME_WEEK_1STDAY, loc))));
        ::freelocale(loc);
        // The reference day is a date as yyyymmdd; 19971130 is a Sunday.
        int refWeekday = 0;
        if (ref != 19971130) {
            struct tm t;
            std::memset(&t, 0, sizeof t);
            t.tm_year = static_cast<int>(ref / 10000) - 1900;
            t.tm_mon = static_cast<int>(ref / 100 % 100) - 1;
            t.tm_mday = static_cast<int>(ref % 100);
            t.tm_hour = 12;
            if (timegm(&t) == -1)
                return 0;
            refWeekday = t.tm_wday;
        }
        if (first < 1 || first > 7)
            return 0;
        return (refWeekday + first - 1) % 7;
    }

    std::string AppDataDir() override {
        const char* xdg = std::getenv("XDG_DATA_HOME");
        if (xdg && *xdg)
            return xdg;
        const char* home = std::getenv("HOME");
        return std::string(home && *home ? home : "/tmp") + "/.local/share";
    }

    bool LocalToUtc(const CivilTime& local, CivilTime* utc) override {
        struct tm t = ToTm(local);
        t.tm_wday = -1; // mktime sets it on success; -1 is also a valid answer (1969-12-31 23:59:59 UTC)
        time_t s = ::mktime(&t);
        if (s == static_cast<time_t>(-1) && t.tm_wday == -1)
            return false;
        struct tm u;
        if (!gmtime_r(&s, &u))
            return false;
        *utc = FromTm(u);
        utc->millisecond = local.millisecond;
        return true;
    }
    bool UtcToLocal(const CivilTime& utc, CivilTime* local) override {
        struct tm t = ToTm(utc);
        t.tm_isdst = 0;
        time_t s = ::timegm(&t);
        struct tm l;
        if (!localtime_r(&s, &l))
            return false;
        *local = FromTm(l);
        local->millisecond = utc.millisecond;
        return true;
    }
    int ZoneBiasMinutes() override {
        ::tzset();
        return static_cast<int>(::timezone / 60); // seconds west of UTC, standard time
    }

    int FileCreate(const std::string& path, bool exclusive) override {
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
        int fd;
        do
            fd = ::open(path.c_str(), flags, 0644);
        while (fd < 0 && errno == EINTR);
        return fd;
    }
    int FileOpenRead(const std::string& path) override {
        int fd;
        do
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -1;
        struct stat st;
        bool stated = ::fstat(fd, &st) == 0;
        if (!stated || !S_ISREG(st.st_mode)) {
            int error = !stated ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    long FileRead(int file, void* buffer, size_t length) override {
        ssize_t n;
        do
            n = ::read(file, buffer, length);
        while (n < 0 && errno == EINTR);
        return static_cast<long>(n);
    }
    long FileWrite(int file, const void* data, size_t length) override {
        const char* p = static_cast<const char*>(data);
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::write(file, p + done, length - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return done ? static_cast<long>(done) : -1;
            done += static_cast<size_t>(n);
        }
        return static_cast<long>(done);
    }
    int FileSync(int file) override { return ::fsync(file); }
    int FileClose(int file) override { return ::close(file); }
    int64_t FileSize(int file) override {
        struct stat st;
        return ::fstat(file, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    int FileRename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str());
    }
    int FileRemove(const std::string& path) override { return ::unlink(path.c_str()); }
    int DiskFullError() override { return ENOSPC; }
    bool IsDiskFull(int error) override { return error == ENOSPC || error == EDQUOT; }
    bool IsFileExists(int error) override { return error == EEXIST; }

private:
    std::mutex weekdayLock_;
    std::string weekdayLocale_; // LC_ALL, LC_TIME and LANG when weekday_ was found
    int weekday_ = -1;
};

} // namespace

Env* Env::Default() {
    // Never destroyed (used while the library unloads), and not on the heap, so unloading the
    // library leaves nothing behind.
    alignas(PosixEnv) static unsigned char storage[sizeof(PosixEnv)];
    static PosixEnv* env = new (storage) PosixEnv;
    return env;
}

std::string SiblingModulePath(const std::string& modulePath, const char* baseName) {
    size_t slash = modulePath.find_last_of("/");
    std::string folder = slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
    return folder + baseName + ".so";
}

} // namespace platform
