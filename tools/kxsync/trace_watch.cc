#include "trace_watch.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kxsync {

namespace {

bool Has(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

// "file(12) : Function = F GetLastError = N": F and N, or false for another kind of line.
bool ErrorLine(const std::string& line, std::string* function, int* error) {
    static const char kFunction[] = " : Function = ", kError[] = " GetLastError = ";
    // Most lines are event lines: a backward search of every one of them would cost more than
    // the rest of the watch.
    size_t f = line.find(kFunction);
    if (f == std::string::npos)
        return false;
    size_t e = line.rfind(kError);
    if (e == std::string::npos || e < f)
        return false;
    f += sizeof kFunction - 1;
    *function = line.substr(f, e - f);
    *error = std::atoi(line.c_str() + e + sizeof kError - 1);
    return true;
}

// The Function field of an event line, where its message travels.
std::string Message(const std::string& line) {
    size_t b = line.find("[Function=");
    size_t e = line.find("],[Time=");
    return b == std::string::npos || e == std::string::npos || e < b ? std::string()
                                                                     : line.substr(b + 10, e - b - 10);
}

} // namespace

TraceWatch::TraceWatch(std::string service, Listener listener)
    : service_(std::move(service)), listener_(std::move(listener)) {}

void TraceWatch::Failed(bool last) {
    Attempt attempt;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!last)
            ++failed_;
        if (pending_.empty() && waiting_)
            pending_ = SilentFor();
        if (!pending_.empty())
            cause_ = pending_;
        else if (cause_.empty())
            cause_ = "the request to " + service_ + " failed";
        pending_.clear();
        waiting_ = false;
        attempt = Attempt{failed_, last, cause_};
    }
    if (last)
        gaveUp_ = true;
    if (listener_)
        listener_(attempt);
}

void TraceWatch::Feed(const std::string& line) {
    std::string function;
    int error = 0;
    if (ErrorLine(line, &function, &error)) {
        if (function.rfind("CHttpHelper::httpRequest", 0) == 0) {
            Failed(false);
            return;
        }
        std::lock_guard<std::mutex> hold(lock_);
        if (function == "SocketClient::Connect") {
            pending_ = error == ECONNREFUSED ? "nothing is listening on " + service_
                                             : "cannot connect to " + service_ + ": " + std::strerror(error);
        } else if ((function == "SocketClient::Recv" || function == "SocketClient::Send" ||
                    function == "SocketClient::Select") &&
                   pending_.empty()) {
            pending_ = connects_ >= 2 ? "the connection was dropped while the session was being confirmed"
                                      : "the connection was dropped before the whole answer arrived";
        }
        return;
    }
    std::string message = Message(line);
    int position = 0, total = 0;
    if (Has(message, "Read People:") && std::sscanf(message.c_str() + message.find("Read People:"),
                                                    "Read People:%d /%d", &position, &total) == 2) {
        contactsListed_ = total;
        return;
    }
    if (message.rfind("modified instance of ", 0) == 0 && Has(message, " without a start dropped")) {
        ++instancesDropped_;
        return;
    }
    if (Has(message, "Retry End Or Cancel:0 ")) {
        Failed(true);
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (message.rfind("SID=", 0) == 0) {
        failed_ = 0;
        connects_ = 0;
        pending_.clear();
    } else if (message == "Connect Success.") {
        ++connects_;
        waiting_ = true;
        waitingSince_ = std::chrono::steady_clock::now();
    } else if (Has(message, "Done Without Retry") || Has(message, "Done With Retry")) {
        failed_ = 0;
        pending_.clear();
        cause_.clear();
        waiting_ = false;
    } else if (Has(message, "Wait Device Response Timeout")) {
        pending_ = "no answer from the handset at " + service_ + " within the driver's time-out";
    } else if (Has(message, "Adb Response Error")) {
        pending_ +=
            pending_.empty() ? "adb could not reach the handset" : "; adb could not reach the handset";
    } else if (Has(message, "answer larger than")) {
        pending_ = "the " + message.substr(0, message.find(", giving up"));
    } else if (message == "answer is not JSON" || Has(message, "the answer is not a JSON object")) {
        cause_ = "the handset's answer is not JSON";
        waiting_ = false;
    } else if (message == "answer not decipherable") {
        cause_ = "the handset's answer could not be deciphered";
    } else if (message.rfind("answer status ", 0) == 0) {
        cause_ = "the handset answered with status " + message.substr(14);
    }
}

std::string TraceWatch::SilentFor() const {
    auto waited = std::chrono::steady_clock::now() - waitingSince_;
    return "no answer from the handset at " + service_ + " for " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(waited).count()) + " s";
}

std::string TraceWatch::Cause() const {
    std::lock_guard<std::mutex> hold(lock_);
    return cause_.empty() && waiting_ ? SilentFor() : cause_;
}

TraceFollower::TraceFollower(std::string path, TraceWatch& watch, FILE* copy)
    : path_(std::move(path)), watch_(watch), copy_(copy) {
    thread_ = std::thread([this] {
        FILE* in = std::fopen(path_.c_str(), "rb");
        std::string partial;
        while (!done_.load()) {
            if (!in || !ReadMore(in, &partial))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (in) {
            while (ReadMore(in, &partial)) {
            }
            std::fclose(in);
        }
    });
}

TraceFollower::~TraceFollower() {
    Finish();
}

void TraceFollower::Finish() {
    done_ = true;
    if (thread_.joinable())
        thread_.join();
}

void TraceFollower::CatchUp() {
    struct stat st;
    if (done_.load() || ::stat(path_.c_str(), &st) != 0)
        return;
    for (int waited = 0; consumed_.load() < static_cast<long long>(st.st_size) && waited < 1000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool TraceFollower::ReadMore(FILE* in, std::string* partial) {
    char buffer[8192];
    size_t n = std::fread(buffer, 1, sizeof buffer, in);
    if (n == 0) {
        std::clearerr(in); // the driver may append more
        return false;
    }
    partial->append(buffer, n);
    size_t start = 0;
    for (size_t end; (end = partial->find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial->substr(start, end + 1 - start);
        if (copy_)
            std::fwrite(line.data(), 1, line.size(), copy_);
        watch_.Feed(line);
    }
    partial->erase(0, start);
    if (copy_)
        std::fflush(copy_);
    consumed_ += static_cast<long long>(n);
    return true;
}

} // namespace kxsync
