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

// Every file the stand-in and the tests write in the folder.
void RemoveFiles(const std::string& dir) {
    for (const char* name : {"calls", "codes", "codes.next", "exit", "state", "sleep"})
        std::remove((dir + "/" + name).c_str());
}

// The folder of this test process, removed when it ends (each test runs in a process of its own,
// so thousands of runs would otherwise leave thousands of folders).
char gMadeDir[] = "/tmp/kx_fake_adb_XXXXXX";

const std::string& ProcessDir() {
    static const std::string dir = [] {
        const char* made = ::mkdtemp(gMadeDir);
        if (made)
            std::atexit([] {
                RemoveFiles(gMadeDir);
                ::rmdir(gMadeDir);
            });
        std::string d = made ? made : "/tmp";
        ::setenv("KX_FAKE_ADB_DIR", d.c_str(), 1);
        ::setenv("KXPHONE_ADB", ScriptPath().c_str(), 1);
        return d;
    }();
    return dir;
}

} // namespace

FakeAdb::FakeAdb() : dir_(ProcessDir()) {
    RemoveFiles(dir_);
}

FakeAdb::~FakeAdb() {
    RemoveFiles(dir_);
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
