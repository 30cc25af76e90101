#include "tracesink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "platform/utf.h"

namespace {

// The open trace file. Kept open between lines so tracing costs one write per line; reopened
// when KXPHONE_TRACE_FILE names another file or the file was removed. Whether it was removed is
// asked at most every kRecheckNs: asking on every line cost a tenth of a full read's time.
struct Sink {
    std::mutex lock;
    std::string path;
    std::string line; // reused: one conversion buffer instead of an allocation per line
    int fd = -1;
    int64_t checkedNs = 0;
};

constexpr int64_t kRecheckNs = 100 * 1000 * 1000;

int64_t NowNs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Sink& TheSink() {
    // Outlives every caller, even during unload, and is not on the heap, so unloading the library
    // leaves nothing behind.
    alignas(Sink) static unsigned char storage[sizeof(Sink)];
    static Sink* sink = new (storage) Sink;
    return *sink;
}

// Writes the whole line; a single write() on an O_APPEND descriptor keeps concurrent writers,
// even in other processes, from splitting each other's lines.
bool WriteAll(int fd, const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Reusable(Sink& sink, const char* target) {
    if (sink.fd < 0 || sink.path != target)
        return false;
    int64_t now = NowNs();
    if (now - sink.checkedNs < kRecheckNs)
        return true;
    sink.checkedNs = now;
    struct stat st;
    return ::fstat(sink.fd, &st) == 0 && st.st_nlink > 0;
}

} // namespace

extern "C" int32_t OutputString(const char16_t* tag, int32_t level, const char16_t* text) {
    (void)tag;
    (void)level;
    const char* target = std::getenv("KXPHONE_TRACE_FILE");
    if (!target || !*target || !text)
        return 0;
    Sink& sink = TheSink();
    std::lock_guard<std::mutex> hold(sink.lock);
    std::string& line = sink.line;
    line.clear();
    platform::AppendUtf16AsUtf8(&line, text, std::char_traits<char16_t>::length(text));
    if (target[0] == '-' && target[1] == '\0')
        return WriteAll(STDERR_FILENO, line) ? 0 : -1;
    if (!Reusable(sink, target)) {
        if (sink.fd >= 0)
            ::close(sink.fd);
        sink.path = target;
        sink.fd = ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        sink.checkedNs = NowNs();
        if (sink.fd < 0)
            return -1;
    }
    return WriteAll(sink.fd, line) ? 0 : -1;
}
