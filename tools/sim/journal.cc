#include "journal.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "json_text.h"

namespace kxsim {

namespace {
// Bounds for a long-running server; the file gets every byte.
const size_t kMaxEntries = 100000;
const size_t kMaxKeptBody = 4u << 20;
} // namespace

Journal::~Journal() {
    if (file_ != nullptr)
        fclose(file_);
}

bool Journal::OpenFile(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    FILE* f = fopen(path.c_str(), "a");
    if (f == nullptr) {
        *error = "cannot open journal " + path + ": " + strerror(errno);
        return false;
    }
    if (file_ != nullptr)
        fclose(file_);
    file_ = f;
    return true;
}

Json::Value Journal::ToJson(const JournalEntry& e) {
    Json::Value v(Json::objectValue);
    v["seq"] = static_cast<Json::Int64>(e.seq);
    v["time"] = static_cast<Json::Int64>(e.timeMs);
    v["arrived_ms"] = static_cast<Json::Int64>(e.arrivedMs);
    v["answered_ms"] = static_cast<Json::Int64>(e.answeredMs);
    v["method"] = e.method;
    v["path"] = e.path;
    v["session"] = e.session;
    v["body"] = e.body;
    if (!e.fault.empty())
        v["fault"] = e.fault;
    if (!e.error.empty())
        v["error"] = e.error;
    v["http_status"] = e.httpStatus;
    return v;
}

int64_t Journal::MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Journal::Add(JournalEntry entry) {
    using namespace std::chrono;
    entry.timeMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    entry.answeredMs = MonotonicMs();
    if (entry.arrivedMs == 0)
        entry.arrivedMs = entry.answeredMs;
    std::lock_guard<std::mutex> lock(mu_);
    entry.seq = next_++;
    if (file_ != nullptr) {
        std::string line = CompactJson(ToJson(entry)) + "\n";
        fwrite(line.data(), 1, line.size(), file_);
        fflush(file_);
    }
    if (entry.body.size() > kMaxKeptBody) {
        entry.body.resize(kMaxKeptBody);
        entry.error += entry.error.empty() ? "body cut to 4 MiB" : "; body cut to 4 MiB";
    }
    entries_.push_back(std::move(entry));
    if (entries_.size() > kMaxEntries)
        entries_.pop_front();
}

std::vector<JournalEntry> Journal::Entries() {
    std::lock_guard<std::mutex> lock(mu_);
    return {entries_.begin(), entries_.end()};
}

void Journal::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    entries_.clear();
}

std::vector<std::string> Journal::UnconfirmedSessions() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    std::set<std::string> confirmed, listed;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->session.empty())
            continue;
        if (it->path == "/session_ctrl")
            confirmed.insert(it->session);
        else if (!confirmed.count(it->session) && listed.insert(it->session).second)
            out.push_back(it->session);
    }
    return {out.rbegin(), out.rend()};
}

} // namespace kxsim
