// What the server was asked: one entry per connection it accepted, so a test can assert exactly
// what the driver sent (method, path, "SessionID", deciphered body) and which sessions were never
// confirmed. Kept in memory (the newest 100000 entries, bodies up to 4 MiB) and, when a file is
// given, appended to it in full as JSON lines as they happen. Entries are in the order their
// answers were ready; each carries when its request arrived and when its answer was ready on a
// monotonic clock, so a test can see two requests served at the same time.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kxsim {

struct JournalEntry {
    int64_t seq = 0;
    int64_t timeMs = 0;     // wall clock when the answer was ready, ms since the epoch ("time")
    int64_t arrivedMs = 0;  // MonotonicMs() when the request had been read ("arrived_ms")
    int64_t answeredMs = 0; // MonotonicMs() when the answer was ready ("answered_ms")
    std::string method, path, session;
    std::string body;  // deciphered (plain for the group requests), "" without a body
    std::string fault; // the fault applied ("refuse", "status", ...) or ""
    std::string error; // why the request was bad, or ""
    int httpStatus = 0;
};

class Journal {
public:
    ~Journal();
    bool OpenFile(const std::string& path, std::string* error);
    // Stamps the answer times (and the arrival, when the caller left it 0) and keeps the entry.
    void Add(JournalEntry entry);
    std::vector<JournalEntry> Entries();
    void Clear();
    // Sessions of requests (other than "/session_ctrl") that no "/session_ctrl" confirmed later.
    std::vector<std::string> UnconfirmedSessions();

    static Json::Value ToJson(const JournalEntry& e);
    // Milliseconds on the steady clock: comparable between entries, not a date.
    static int64_t MonotonicMs();

private:
    std::mutex mu_;
    std::deque<JournalEntry> entries_;
    int64_t next_ = 1;
    FILE* file_ = nullptr;
};

} // namespace kxsim
