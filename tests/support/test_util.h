// Small helpers several suites share: JSON from text, a temporary folder that cleans up after
// itself (optionally serving as the application-data folder of the driver), and running a
// command line with its output captured.
#pragma once

#include <json/value.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/timing.h"

namespace kxtest {

// The protocol with one protocol second lasting msPerSecond. The limits on the bridge commands
// stay real: they are upper bounds, not waits, and the fake bridge is a shell script that needs
// its milliseconds on a loaded machine.
inline platform::Timing TestTiming(uint32_t msPerSecond) {
    platform::Timing t = platform::Timing::Scaled(msPerSecond);
    t.adbCommandTimeoutMs = 5000;
    t.phoneReadyTimeoutMs = 5000;
    return t;
}

// The bytes of a file ("" when it cannot be read).
std::string FileBytes(const std::string& path);
// The lines of a file, without their line feeds.
std::vector<std::string> FileLines(const std::string& path);
// The entries of a folder (0 when it cannot be read).
size_t FilesIn(const std::string& folder);

// The document in text; a failed parse is a test failure (and gives null).
Json::Value ParseJson(const std::string& text);

// JSON objects, one a line (kxsync's records), by their "id" member.
std::map<std::string, Json::Value> JsonLinesById(const std::string& lines);
// Records one a line into path, each with its "op" member, as kxsync's write and import take them.
void WriteOpLines(const std::string& path, const std::vector<std::pair<const char*, Json::Value>>& records);

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const char* stem = "kxtest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The real system, but the application-data folder lies in a temporary folder (sub below it,
// when given). Installed as theApp's Env for its lifetime when install is true.
class TempAppDataEnv : public platform::EnvWrapper {
public:
    explicit TempAppDataEnv(bool install, const std::string& sub = "");
    ~TempAppDataEnv() override;
    std::string AppDataDir() override { return appData_; }
    const std::string& dir() const { return dir_.path(); }

private:
    TempDir dir_;
    std::string appData_;
    bool installed_;
};

// Sets (or, with a null value, removes) an environment variable for one scope and re-reads the
// time zone, so TZ changes take effect at once.
class ScopedEnvVar {
public:
    ScopedEnvVar(const char* name, const char* value);
    ~ScopedEnvVar();
    ScopedEnvVar(const ScopedEnvVar&) = delete;
    ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

struct CommandRun {
    int exitCode = -1;
    std::string output;
    std::vector<std::string> Lines() const; // output split at "\n", without it
};
// Runs a command line through the shell; stdout (plus whatever the command redirects) captured.
CommandRun RunCommand(const std::string& command);

} // namespace kxtest
