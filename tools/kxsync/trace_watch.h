// What kxsync learns from the driver's trace lines, which is all a host can see of a failure
// while it happens: each failed attempt of a request and why it failed, the end of the driver's
// retries, and the cause of the last failure for kxsync's last line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kxsync {

constexpr int kDriverTries = 6; // attempts the driver makes per request

class TraceWatch {
public:
    struct Attempt {
        int failed;        // attempts of this request that have failed so far
        bool last;         // the driver has given the request up
        std::string cause; // "nothing is listening on 127.0.0.1:8182", ...
    };
    using Listener = std::function<void(const Attempt&)>;

    // service: "ADDRESS:PORT" as the user gave it, for the causes.
    explicit TraceWatch(std::string service, Listener listener = nullptr);

    // One trace line, line end or not. Any thread; lines must come in the order written.
    void Feed(const std::string& line);

    // Why the last failure happened; empty when every request so far was answered. A request
    // still waiting for its answer reads as "no answer ... for N s".
    std::string Cause() const;
    bool GaveUp() const { return gaveUp_.load(); }

    // What the driver traces of reads and nowhere else: the contacts the last contact read listed
    // on the handset (their ids, other accounts' included), and the moved instances of events that
    // were dropped for having no start.
    int ContactsListed() const { return contactsListed_.load(); }
    int InstancesDropped() const { return instancesDropped_.load(); }

private:
    void Failed(bool last);
    std::string SilentFor() const; // with lock_ held

    const std::string service_;
    Listener listener_;
    mutable std::mutex lock_;
    std::string pending_; // cause of the attempt under way
    std::string cause_;   // cause of the last failed attempt or answer
    int failed_ = 0;
    int connects_ = 0; // connections of this request: a second one confirms the session
    bool waiting_ = false;
    std::chrono::steady_clock::time_point waitingSince_;
    std::atomic<bool> gaveUp_{false};
    std::atomic<int> contactsListed_{0};
    std::atomic<int> instancesDropped_{0};
};

// Follows a file the driver appends trace lines to, on a thread of its own, and feeds every
// line to a TraceWatch (and to copy, when given: the user's own --trace target).
class TraceFollower {
public:
    TraceFollower(std::string path, TraceWatch& watch, FILE* copy);
    ~TraceFollower();
    // Reads what is left, then stops following. Call before asking the watch for the cause.
    void Finish();
    // Returns once every line written so far has been fed (or after a second).
    void CatchUp();
    TraceFollower(const TraceFollower&) = delete;
    TraceFollower& operator=(const TraceFollower&) = delete;

private:
    bool ReadMore(FILE* in, std::string* partial);

    std::string path_;
    TraceWatch& watch_;
    FILE* copy_;
    std::atomic<bool> done_{false};
    std::atomic<long long> consumed_{0}; // bytes of the file fed so far
    std::thread thread_;
};

} // namespace kxsync
