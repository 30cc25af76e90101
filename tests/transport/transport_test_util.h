// Shared pieces of the transport tests: the trace lines written during a test, a process list
// that never reaches real processes, and a fixture with a scaled protocol clock.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/app.h"
#include "platform/env.h"
#include "platform/timing.h"
#include "support/fake_adb.h"
#include "support/scripted_peer.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace kxtest {

// The trace lines written during a test, counted by their fixed texts. Messages may carry a
// CR LF of their own, so counting works on the whole text, not on split lines.
class TransportTrace {
public:
    void Clear();
    // Trace lines whose Function field is exactly text.
    int CountFunction(const std::string& text) const {
        return CountContaining("[Function=" + text + "],[Time=");
    }
    int CountContaining(const std::string& text) const;
    // Lines whose Function field is the text between the two runs of twenty '#'.
    int CountBanner(const std::string& text) const {
        return CountFunction(" #################### " + text + " #################### ");
    }

private:
    TraceCapture capture_;
};

// Lists a fixed set of processes and records terminations instead of killing anything.
class ProcessListEnv : public platform::EnvWrapper {
public:
    ProcessListEnv() : EnvWrapper(platform::Env::Default()) {}
    bool ListProcesses(std::vector<platform::ProcessEntry>* out) override {
        std::lock_guard<std::mutex> hold(lock_);
        *out = processes;
        return listable;
    }
    bool TerminateProcess(int pid) override {
        std::lock_guard<std::mutex> hold(lock_);
        terminated.push_back(pid);
        return pid != failingPid;
    }
    std::vector<int> Terminated() {
        std::lock_guard<std::mutex> hold(lock_);
        return terminated;
    }

    std::vector<platform::ProcessEntry> processes;
    bool listable = true;
    int failingPid = -1;

private:
    std::mutex lock_;
    std::vector<int> terminated;
};

// Raises theApp's cancel flag delayMs after ready() holds (or after a bounded wait); join it.
std::thread CancelWhen(std::function<bool()> ready, int delayMs = 30);

// The session confirmation that follows every answered main request.
inline bool IsSessionCtrl(const std::string& request) {
    return RequestLine(request) == "POST /session_ctrl HTTP/1.1";
}

class TransportTest : public ::testing::Test {
protected:
    static constexpr const char16_t* kSerial = u"SER123";

    void SetUp() override;
    void TearDown() override;
    void PointAt(int port);

    TransportTrace trace;
    FakeAdb adb;
    ProcessListEnv env;
};

} // namespace kxtest
