// kxsync: a command-line host for the KXPhone driver.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "driver_library.h"
#include "host_window.h"
#include "interrupt.h"
#include "options.h"
#include "session.h"
#include "trace_watch.h"

namespace {

const char kVersion[] = "kxsync 1.0";

// text in lines of at most width characters (words are not split), each after indent.
void PrintWrapped(FILE* out, const std::string& text, size_t indent, size_t width) {
    std::string line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            std::fprintf(out, "%s\n%*s", line.c_str(), static_cast<int>(indent), "");
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    std::fprintf(out, "%s\n", line.c_str());
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: kxsync [options] COMMAND [ARG...]\n\nCommands:\n");
    for (const kxsync::Command& command : kxsync::Commands()) {
        if (!command.summary)
            continue;
        std::string head = std::string(command.name) + (*command.usage ? " " : "") + command.usage;
        if (head.size() > 24)
            std::fprintf(out, "  %s\n%28s", head.c_str(), "");
        else
            std::fprintf(out, "  %-24s  ", head.c_str());
        PrintWrapped(out, command.summary, 28, 64);
    }
    std::fprintf(
        out, "\nA write FILE holds one record per line in the form \"read --json\" prints, with one more\n"
             "member \"op\": \"create\", \"update\" or \"delete\" (docs/record-json.md). Nothing is written\n"
             "when a line is bad; the exit status is 0 only when every record was written.\n");
    std::fprintf(out,
                 "\nThe mirror is a SQLite file per device serial, $XDG_DATA_HOME/kxsync/SERIAL.sqlite\n"
                 "(else in ~/.local/share/kxsync; bytes of the serial other than letters, digits, '-', '_'\n"
                 "and '.' written as %%XX). A record changed on both sides keeps the handset's version;\n"
                 "the local one becomes a conflict copy that \"mirror status\" lists. A sync that fails\n"
                 "leaves the mirror as it was; the next one completes it.\n");
    std::fprintf(out, "\n%s", kxsync::OptionsUsage());
}

// The driver takes an IP address only; a name it is given fails silently for minutes.
bool ResolveAddress(std::string* address, std::string* error) {
    in_addr plain{};
    if (inet_pton(AF_INET, address->c_str(), &plain) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(address->c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        *error = "cannot resolve " + *address + ": " + gai_strerror(rc);
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    *address = text;
    return true;
}

// Whether the driver will find an adb to run: KXPHONE_ADB, else adb on PATH.
bool AdbAvailable() {
    if (const char* named = std::getenv("KXPHONE_ADB"))
        return *named && ::access(named, X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (::access(((dir.empty() ? "." : dir) + "/adb").c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// The driver writes its trace lines to a file of kxsync's own, which kxsync follows; the file
// goes when kxsync ends. It lives in memory when it can (the driver writes a line per record, and
// a disk file system journals every one of those writes): TMPDIR when set, else the user's
// runtime folder or /dev/shm, else /tmp.
struct TraceFile {
    std::string path;
    ~TraceFile() {
        if (path.empty())
            return;
        // The driver still traces while the process ends (its application object's last line):
        // with the variable set it would make the removed file again and leave it behind.
        ::unsetenv("KXPHONE_TRACE_FILE");
        ::unlink(path.c_str());
    }
    bool Create() {
        std::vector<std::string> dirs;
        const char* tmp = std::getenv("TMPDIR");
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (tmp && *tmp) {
            dirs.push_back(tmp);
        } else {
            if (runtime && *runtime)
                dirs.push_back(runtime);
            dirs.push_back("/dev/shm");
            dirs.push_back("/tmp");
        }
        for (const std::string& dir : dirs) {
            std::string pattern = dir + "/kxsync-trace-XXXXXX";
            int fd = ::mkstemp(pattern.data());
            if (fd < 0)
                continue;
            ::close(fd);
            path = pattern;
            return true;
        }
        return false;
    }
};

// Ends the running operation after --timeout seconds, as Ctrl-C would; a driver that does not
// come back after the stop does not hold kxsync either.
class Deadline {
public:
    Deadline(int seconds, std::function<void()> stop, std::function<void()> abandon) {
        if (seconds <= 0)
            return;
        thread_ = std::thread([=] {
            std::unique_lock<std::mutex> hold(lock_);
            if (wake_.wait_for(hold, std::chrono::seconds(seconds), [this] { return done_; }))
                return;
            expired_ = true;
            stop();
            if (!wake_.wait_for(hold, std::chrono::seconds(15), [this] { return done_; }))
                abandon();
        });
    }
    ~Deadline() { Finish(); }
    void Finish() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    bool expired() const { return expired_.load(); }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
    std::atomic<bool> expired_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    kxsync::Options options;
    std::string error;
    if (!kxsync::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "kxsync: %s\n%s\n", error.c_str(), kxsync::GeneralUsageLine().c_str());
        return 2;
    }
    if (options.help) {
        PrintUsage(stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", kVersion);
        return 0;
    }
    const kxsync::Command* command = nullptr;
    if (int status = kxsync::CheckCommandLine(options, &command))
        return status;
    if (!ResolveAddress(&options.address, &error)) {
        std::fprintf(stderr, "kxsync: %s\n", error.c_str());
        return 2;
    }
    const std::string service = options.address + ":" + std::to_string(options.port);

    // The user's trace target gets every line the driver writes, as before.
    std::string userTrace = options.traceFile;
    if (userTrace.empty() && std::getenv("KXPHONE_TRACE_FILE"))
        userTrace = std::getenv("KXPHONE_TRACE_FILE");
    FILE* traceCopy = nullptr;
    if (userTrace == "-") {
        traceCopy = stderr;
    } else if (!userTrace.empty() && !(traceCopy = std::fopen(userTrace.c_str(), "a"))) {
        std::fprintf(stderr, "kxsync: cannot open trace file %s: %s\n", userTrace.c_str(),
                     std::strerror(errno));
        return 2;
    }
    TraceFile traceFile;
    if (!traceFile.Create()) {
        std::fprintf(stderr, "kxsync: cannot create a trace file in the temporary folder: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // The driver reads the trace target when it writes; set it before loading.
    ::setenv("KXPHONE_TRACE_FILE", traceFile.path.c_str(), 1);
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"))
        options.dataHome = dataHome;
    if (!options.pictures.empty())
        ::setenv("XDG_DATA_HOME", options.pictures.c_str(), 1);
    if (options.driverPath.empty())
        options.driverPath = kxsync::DriverLibrary::DefaultPath();

    kxsync::DriverLibrary driver;
    kxsync::HostWindow window(options.progress);
    std::atomic<kxsync::Session*> running{nullptr};
    std::atomic<bool> stopping{false}; // attempts failing after a stop are no news
    auto stopRunning = [&] {
        stopping = true;
        if (kxsync::Session* session = running.load())
            session->api.Stop(session->runningType.load(), 0);
    };
    // Before the driver can start any thread, so every thread inherits the blocked signals.
    kxsync::InterruptToStop interrupt(stopRunning);

    const bool adb = AdbAvailable();
    // Named but not there is a mistake to say at once; none on the PATH only matters (and is said)
    // when a request fails.
    const char* namedAdb = std::getenv("KXPHONE_ADB");
    if (namedAdb && !adb)
        std::fprintf(stderr,
                     "kxsync: KXPHONE_ADB names %s, which is no program kxsync can run: the driver "
                     "cannot reset the connection to the handset\n",
                     *namedAdb ? namedAdb : "nothing");
    kxsync::TraceWatch watch(service, [&](const kxsync::TraceWatch::Attempt& a) {
        if (stopping.load())
            return;
        if (a.last) {
            window.FinishProgress();
            std::fprintf(stderr, "kxsync: the driver gave up after %d attempts: %s\n", kxsync::kDriverTries,
                         a.cause.c_str());
            // One retry budget per command: the requests after this one would only fail the same way.
            stopRunning();
        } else if (a.failed < kxsync::kDriverTries) {
            window.FinishProgress();
            std::fprintf(stderr, "kxsync: attempt %d of %d failed: %s; trying again (Ctrl-C to stop)\n",
                         a.failed, kxsync::kDriverTries, a.cause.c_str());
            if (a.failed == 1 && !adb && !namedAdb)
                std::fprintf(stderr, "kxsync: no adb (not on PATH, or KXPHONE_ADB names nothing): the "
                                     "driver cannot reset the connection to the handset\n");
        }
    });
    kxsync::TraceFollower follower(traceFile.path, watch, traceCopy);

    if (!driver.Load(options.driverPath)) {
        std::fprintf(stderr, "kxsync: %s\n", driver.error().c_str());
        return 1;
    }
    options.driverPath = driver.path();
    kxsync::Session session{options, driver.api(), window};
    session.watch = &watch;
    session.trace = &follower;
    running = &session;
    auto lastLine = [&](bool stoppedByDeadline) {
        std::string cause = watch.Cause();
        if (stoppedByDeadline)
            std::fprintf(stderr, "kxsync: stopped after %d s (--timeout): %s\n", options.timeoutSeconds,
                         cause.empty() ? "the command had not finished" : cause.c_str());
        else if (!cause.empty())
            std::fprintf(stderr, "kxsync: failed: %s\n", cause.c_str());
    };
    Deadline deadline(options.timeoutSeconds, stopRunning, [&] {
        window.FinishProgress();
        lastLine(true);
        std::fflush(nullptr);
        ::unlink(traceFile.path.c_str()); // no destructor runs past _Exit
        std::_Exit(1);
    });
    int status = command->run(session);
    deadline.Finish();
    follower.Finish();
    running = nullptr;
    window.FinishProgress();
    std::fflush(stdout);
    if (deadline.expired()) {
        lastLine(true);
        status = status == 0 ? 1 : status;
    } else if (interrupt.interrupted()) {
        std::fprintf(stderr, "kxsync: stopped (Ctrl-C)\n");
        status = 130;
    } else if (status != 0) {
        lastLine(false);
    }
    return status;
}
