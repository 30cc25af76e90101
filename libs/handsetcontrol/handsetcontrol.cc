// The bridge runs as a child process with an argument vector (never a shell, so nothing in a
// serial or a path is interpreted), in its own process group so that a time-out kills whatever
// it started as well.
#include "handsetcontrol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/utf.h"

extern char** environ;

namespace {

enum : int32_t {
    kNotStarted = -1,
    kTimedOut = -2,
    kKilledBySignal = -3,
    kBadArguments = -4,
    kNotReady = -5,
};

using Clock = std::chrono::steady_clock;

std::vector<std::string> SplitOnBlanks(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

std::string BridgeProgram() {
    const char* program = std::getenv("KXPHONE_ADB");
    return program && *program ? program : "adb";
}

// Runs the bridge with args until it exits or the deadline passes. Its standard output goes to
// *output when given (read as it comes, so a chatty child never blocks), else to /dev/null.
int32_t RunBridge(const std::vector<std::string>& args, Clock::time_point deadline, std::string* output) {
    std::string program = BridgeProgram();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return kNotStarted;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);

    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output)
        ::close(pipeFds[1]);
    if (rc != 0) {
        if (output)
            ::close(pipeFds[0]);
        return kNotStarted;
    }

    int status = 0;
    bool exited = false;
    bool lost = false; // reaped by someone else: its pid may already belong to another process
    bool pipeOpen = output != nullptr;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            exited = true;
            break;
        }
        if (w < 0 && errno != EINTR) {
            lost = true; // not our child any more (SIGCHLD ignored by the host): give up on it
            break;
        }
        auto now = Clock::now();
        if (now >= deadline)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        auto wait = pause < left ? pause : left;
        if (pipeOpen) {
            struct pollfd p = {pipeFds[0], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(wait.count()) + 0) > 0) {
                char buffer[512];
                ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
                if (n > 0 && output->size() < 65536)
                    output->append(buffer, static_cast<size_t>(n));
                else if (n == 0)
                    pipeOpen = false;
            }
        } else {
            std::this_thread::sleep_for(wait);
        }
        if (pause < std::chrono::milliseconds(20))
            pause *= 2;
    }
    if (!exited && !lost) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (output) {
        // Whatever the child wrote before it ended.
        struct pollfd p = {pipeFds[0], POLLIN, 0};
        while (exited && ::poll(&p, 1, 0) > 0) {
            char buffer[512];
            ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0 || output->size() >= 65536)
                break;
            output->append(buffer, static_cast<size_t>(n));
        }
        ::close(pipeFds[0]);
    }
    if (lost)
        return kNotStarted;
    if (!exited)
        return kTimedOut;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return kKilledBySignal;
}

std::string Trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

Clock::time_point DeadlineAfter(int32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
}

} // namespace

KX_HC_EXPORT int32_t KX_RunAdbCmd(const char16_t* command, int32_t length, void*, int32_t,
                                  int32_t timeoutMs) {
    if (!command || length <= 0)
        return kBadArguments;
    std::vector<std::string> args =
        SplitOnBlanks(platform::Utf16ToUtf8(command, length > 0 ? static_cast<size_t>(length) : 0));
    if (args.empty())
        return kBadArguments;
    return RunBridge(args, DeadlineAfter(timeoutMs), nullptr);
}

KX_HC_EXPORT int32_t KX_CheckPhoneReady(const char* serial, int32_t localPort, int32_t devicePort, int32_t,
                                        int32_t, int32_t timeoutMs) {
    if (!serial || !*serial || localPort < 1 || localPort > 65535 || devicePort < 1 || devicePort > 65535)
        return kBadArguments;
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    std::string state;
    int32_t rc = RunBridge({"-s", serial, "get-state"}, deadline, &state);
    if (rc != 0)
        return rc;
    if (Trimmed(state) != "device")
        return kNotReady;
    return RunBridge(
        {"-s", serial, "forward", "tcp:" + std::to_string(localPort), "tcp:" + std::to_string(devicePort)},
        deadline, nullptr);
}
