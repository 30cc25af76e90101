// Ctrl-C during an operation: a second thread waits for the signal and calls the driver's Stop,
// as a host's cancel button would. A second Ctrl-C ends kxsync at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace kxsync {

class InterruptToStop {
public:
    // Blocks SIGINT and SIGTERM in the calling thread (and every thread started after it), then
    // starts the waiting thread. Construct it before any other thread exists.
    explicit InterruptToStop(std::function<void()> stop);
    ~InterruptToStop();
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;

    bool interrupted() const { return interrupted_.load(); }

private:
    void Run();

    std::function<void()> stop_;
    std::atomic<bool> interrupted_{false};
    std::atomic<bool> closing_{false};
    std::thread thread_;
};

} // namespace kxsync
