// The shared test helpers (support/test_util.h, support/trace_capture.h) on Win32, for the suites
// that run under Wine.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "driver/app.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace kxtest {

namespace {

std::string FreshTempName(const char* stem, bool folder) {
    char base[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, base))
        throw std::runtime_error("no temporary folder");
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(base) + stem + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount()) + "-" + std::to_string(attempt);
        if (folder ? CreateDirectoryA(name.c_str(), nullptr) != FALSE : [&] {
                HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
                return h != INVALID_HANDLE_VALUE && CloseHandle(h);
            }())
            return name;
    }
    throw std::runtime_error("no fresh temporary name");
}

void SetVariable(const char* name, const char* value) {
    // Both the C runtime's copy and the process environment, which the DLLs read.
    _putenv_s(name, value ? value : "");
    SetEnvironmentVariableA(name, value);
}

} // namespace

TempDir::TempDir(const char* stem) : path_(FreshTempName(stem, true)) {}

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    SetVariable(name, value);
}

ScopedEnvVar::~ScopedEnvVar() {
    SetVariable(name_, had_ ? old_.c_str() : nullptr);
}

CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = _popen(command.c_str(), "rb");
    if (!pipe)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    run.exitCode = _pclose(pipe);
    return run;
}

TraceCapture::TraceCapture() : path_(FreshTempName("kxtrace-", false)) {
    if (const char* old = std::getenv("KXPHONE_TRACE_FILE")) {
        hadPrevious_ = true;
        previous_ = old;
    }
    SetVariable("KXPHONE_TRACE_FILE", path_.c_str());
}

TraceCapture::~TraceCapture() {
    SetVariable("KXPHONE_TRACE_FILE", hadPrevious_ ? previous_.c_str() : nullptr);
    DeleteFileA(path_.c_str());
}

} // namespace kxtest
