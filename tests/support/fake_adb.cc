#include "support/fake_adb.h"

#include "support/paths.h"
#include "support/test_util.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kxtest {

namespace {

std::string ScriptPath() {
    return SourceDir() + "/tests/support/fake_adb.sh";
}

const std::string& ProcessDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/kx_fake_adb_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        std::string d = made ? made : "/tmp";
        ::setenv("KX_FAKE_ADB_DIR", d.c_str(), 1);
        ::setenv("KXPHONE_ADB", ScriptPath().c_str(), 1);
        return d;
    }();
    return dir;
}

} // namespace

FakeAdb::FakeAdb() : dir_(ProcessDir()) {
    for (const char* name : {"calls", "codes", "exit", "state", "sleep"})
        std::remove((dir_ + "/" + name).c_str());
}

FakeAdb::~FakeAdb() {
    for (const char* name : {"calls", "codes", "codes.next", "exit", "state", "sleep"})
        std::remove((dir_ + "/" + name).c_str());
}

void FakeAdb::WriteFile(const char* name, const std::string& text) const {
    std::ofstream out(dir_ + "/" + name, std::ios::trunc);
    out << text;
}

void FakeAdb::QueueExitCodes(const std::vector<int>& codes) {
    std::ostringstream text;
    for (int c : codes)
        text << c << "\n";
    WriteFile("codes", text.str());
}

void FakeAdb::SetDefaultExit(int code) {
    WriteFile("exit", std::to_string(code));
}

void FakeAdb::SetState(const std::string& state) {
    WriteFile("state", state + "\n");
}

void FakeAdb::SetSleepSeconds(double seconds) {
    WriteFile("sleep", std::to_string(seconds));
}

std::vector<std::string> FakeAdb::Calls() const {
    return FileLines(dir_ + "/calls");
}

} // namespace kxtest
