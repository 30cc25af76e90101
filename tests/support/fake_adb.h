// The fake debug bridge: tests/support/fake_adb.sh, pointed at by KXPHONE_ADB. It logs every
// argument vector and exits with the codes the test chooses, so bridge commands can be
// asserted exactly and no real bridge is ever touched.
#pragma once

#include <string>
#include <vector>

namespace kxtest {

class FakeAdb {
public:
    // Points KXPHONE_ADB at the script (once per process, before any thread runs) and starts
    // from an empty log with every call answering 0.
    FakeAdb();
    ~FakeAdb();

    // Exit codes for the next calls, one each; later calls answer DefaultExit.
    void QueueExitCodes(const std::vector<int>& codes);
    void SetDefaultExit(int code);
    // What "get-state" prints.
    void SetState(const std::string& state);
    void SetSleepSeconds(double seconds);

    // One line per call: each argument in angle brackets, e.g. "<-s><SER><shell><date>".
    std::vector<std::string> Calls() const;

private:
    void WriteFile(const char* name, const std::string& text) const;
    std::string dir_;
};

} // namespace kxtest
