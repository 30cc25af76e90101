// Records arrive as message 2525 on our host window while Read runs on the calling thread; the
// window and callbacks carry no user pointer, so the running session is reached through one
// process-wide pointer (kxsync runs one session at a time).
#include "host_session.h"

#include <kxphone/kxphone.h>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace kxsync {

namespace {

struct Driver {
    void* module = nullptr;
    decltype(&InitDriver) initDriver = nullptr;
    decltype(&SetParam) setParam = nullptr;
    decltype(&InitSync) initSync = nullptr;
    decltype(&Read) read = nullptr;
    decltype(&Stop) stop = nullptr;
    decltype(&UninitSync) uninitSync = nullptr;

    bool Load(const std::string& path) {
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "kxsync: cannot load %s: %s\n", path.c_str(), dlerror());
            return false;
        }
        initDriver = reinterpret_cast<decltype(initDriver)>(dlsym(module, "InitDriver"));
        setParam = reinterpret_cast<decltype(setParam)>(dlsym(module, "SetParam"));
        initSync = reinterpret_cast<decltype(initSync)>(dlsym(module, "InitSync"));
        read = reinterpret_cast<decltype(read)>(dlsym(module, "Read"));
        stop = reinterpret_cast<decltype(stop)>(dlsym(module, "Stop"));
        uninitSync = reinterpret_cast<decltype(uninitSync)>(dlsym(module, "UninitSync"));
        if (!initDriver || !setParam || !initSync || !read || !stop || !uninitSync) {
            std::fprintf(stderr, "kxsync: %s lacks the driver's exports\n", path.c_str());
            return false;
        }
        return true;
    }
    ~Driver() {
        if (module)
            dlclose(module);
    }
};

struct Session {
    int32_t type = 0;
    bool progressBar = true;
    const RecordHandler* onRecord = nullptr;
    ReadSessionOutcome* outcome = nullptr;
    int drawnPercent = -1;
    bool tty = isatty(STDERR_FILENO) != 0;

    void Progress(int percent) {
        outcome->lastPercent = percent;
        if (!progressBar || percent == drawnPercent)
            return;
        if (!tty) {
            // A log file gets a line per tenth instead of a bar.
            if (percent / 10 != drawnPercent / 10 || drawnPercent < 0)
                std::fprintf(stderr, "progress %d%%\n", percent);
            drawnPercent = percent;
            return;
        }
        drawnPercent = percent;
        const int width = 40;
        int filled = percent < 0 ? 0 : percent > 100 ? width : percent * width / 100;
        std::fprintf(stderr, "\r[%.*s%.*s] %3d%%", filled, "########################################",
                     width - filled, "                                        ", percent);
        std::fflush(stderr);
    }
};

Session* g_session = nullptr;
int g_interruptPipe[2] = {-1, -1};

intptr_t HostProc(KXHostWindow*, uint32_t msg, uintptr_t code, intptr_t value) {
    Session* s = g_session;
    if (msg != KX_HOST_MESSAGE || !s)
        return 0;
    const uint32_t family = static_cast<uint32_t>(s->type);
    if (code == KXMessageCode(family, KX_EVENT_RECORD_READ)) {
        ++s->outcome->delivered;
        if (*s->onRecord)
            (*s->onRecord)(reinterpret_cast<const void*>(value));
    } else if (code == KX_PROGRESS_PERCENT) {
        s->Progress(static_cast<int>(value));
    } else if (code == KXMessageCode(family, KX_EVENT_READ_FINISHED) ||
               code == KXMessageCode(family, KX_EVENT_READ_FAILED)) {
        s->outcome->finalCode = static_cast<int32_t>(code);
        s->outcome->finalValue = value;
    }
    return 0;
}

void KX_STDCALL OnRecord(uint32_t, uintptr_t) {
    if (g_session)
        ++g_session->outcome->callbacks;
}
void KX_STDCALL OnProgress(int32_t) {}

// Ctrl-C: the handler only writes to a pipe; the watcher thread calls Stop.
void OnInterrupt(int) {
    char c = 'i';
    ssize_t ignored = write(g_interruptPipe[1], &c, 1);
    (void)ignored;
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace

bool RunRead(const ServiceAddress& address, int32_t type, uint32_t flags, bool progressBar,
             const RecordHandler& onRecord, ReadSessionOutcome* outcome) {
    Driver driver;
    if (!driver.Load(ProgramFolder() + "/vexoCorsaT3.so"))
        return false;

    Session session;
    session.type = type;
    session.progressBar = progressBar;
    session.onRecord = &onRecord;
    session.outcome = outcome;
    g_session = &session;
    KXHostWindow window{&HostProc};

    uint32_t id = 0;
    driver.initDriver(&id);
    std::u16string ip = Wide(address.ip), serial = Wide(address.serial);
    std::u16string base = Wide("http://" + address.ip + ":" + std::to_string(address.port));
    driver.setParam(ip.c_str(), address.port, &OnRecord, &OnProgress);
    InitSyncParams params{0, &window, address.port, base.c_str(), serial.c_str()};
    driver.initSync(0, &params);

    // Stop comes from a second thread, as a host's cancel button would send it.
    bool piped = pipe(g_interruptPipe) == 0;
    struct sigaction action, previous;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &OnInterrupt;
    if (piped)
        sigaction(SIGINT, &action, &previous);
    std::thread watcher;
    if (piped) {
        watcher = std::thread([&driver, type] {
            for (;;) {
                char c = 0;
                if (read(g_interruptPipe[0], &c, 1) != 1 || c == 'q')
                    return;
                std::fputs("\nkxsync: stopping...\n", stderr);
                driver.stop(type, 0);
            }
        });
    }

    auto start = std::chrono::steady_clock::now();
    outcome->result = driver.read(type, flags);
    outcome->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (piped) {
        sigaction(SIGINT, &previous, nullptr);
        char q = 'q';
        ssize_t ignored = write(g_interruptPipe[1], &q, 1);
        (void)ignored;
        watcher.join();
        close(g_interruptPipe[0]);
        close(g_interruptPipe[1]);
    }
    if (progressBar && session.drawnPercent >= 0 && session.tty)
        std::fputc('\n', stderr);
    driver.uninitSync(0, 0);
    g_session = nullptr;
    return true;
}

void PrintRecordLine(const std::string& line) {
    Session* s = g_session;
    bool bar = s && s->progressBar && s->tty && s->drawnPercent >= 0;
    if (bar)
        std::fputs("\r\033[K", stderr); // the bar is drawn again with the next progress
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    if (bar)
        s->drawnPercent = -1;
}

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string DateTimeText(const platform::OleDate& d) {
    platform::CivilTime c;
    if (!d.ToCivil(&c))
        return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buf;
}

} // namespace kxsync
