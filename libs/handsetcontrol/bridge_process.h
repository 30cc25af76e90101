// Runs the debug-bridge program as a child process with an argument vector, never through a
// shell, so nothing in a serial or a path is interpreted.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

enum : int32_t {
    kNotStarted = -1,
    kTimedOut = -2,
    kKilledBySignal = -3,
    kBadArguments = -4,
    kNotReady = -5,
};

using Clock = std::chrono::steady_clock;

// "adb" from the search path, or the program named by KXPHONE_ADB.
inline std::string BridgeProgram() {
    const char* program = std::getenv("KXPHONE_ADB");
    return program && *program ? program : "adb";
}

// Runs the bridge with args until it exits or the deadline passes (then kills it and what it
// started). Its standard output goes to *output when given (at most 64 KiB), else nowhere. The
// exit code, or one of the negative codes above.
int32_t RunBridge(const std::vector<std::string>& args, Clock::time_point deadline, std::string* output);
