#include "interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kxsync {

namespace {

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // wakes the thread when kxsync ends
    return set;
}

} // namespace

InterruptToStop::InterruptToStop(std::function<void()> stop) : stop_(std::move(stop)) {
    sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Run(); });
}

InterruptToStop::~InterruptToStop() {
    closing_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

void InterruptToStop::Run() {
    sigset_t set = WatchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (closing_.load())
            return;
        if (signal == SIGUSR1)
            continue;
        if (interrupted_.exchange(true)) {
            static const char kMessage[] = "\nkxsync: interrupted again, giving up\n";
            ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
            (void)ignored;
            std::_Exit(130);
        }
        std::fputs("\nkxsync: stopping (Ctrl-C again to quit at once)\n", stderr);
        if (stop_)
            stop_();
    }
}

} // namespace kxsync
