// The bridge runs in its own process group so that a time-out kills whatever it started as well.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "bridge_process.h"

extern char** environ;

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
