// kxsync's command line: "kxsync [options] COMMAND [ARG...]", options anywhere.
#pragma once

#include <string>
#include <vector>

namespace kxsync {

struct Options {
    std::string command;
    std::vector<std::string> arguments; // after the command
    std::vector<std::string> given;     // the options given, by name ("--json"), in order
    std::string driverPath;             // empty: vexoCorsaT3.so next to kxsync
    std::string address = "127.0.0.1";  // the handset service as the host reaches it
    int port = 8182;                    // local port forwarded to the handset service
    std::string serial = "emulator-5554";
    std::string traceFile; // empty: leave KXPHONE_TRACE_FILE as it is
    bool progress = true;
    bool json = false;    // read commands print JSON lines
    bool all = false;     // read commands show every field of a record in the text form
    bool verbose = false; // the session's driver calls (InitDriver, SetParam, ...) on stderr
    bool keepLog = false; // sync: the handset's change log is left as it is
    bool help = false;
    bool version = false;
    int timeoutSeconds = 0; // 0: no limit; else the command is stopped when it has run this long
    std::string pictures;   // folder the driver writes received pictures to (empty: its own)
    // restore: add-missing, add-all or replace; --dry-run writes nothing; --yes allows a replace
    // that loses more than half of the handset's records.
    std::string mode;
    bool dryRun = false;
    bool yes = false;
    bool verify = false;  // write: refuse a file whose records do not fit the handset
    std::string dataHome; // XDG_DATA_HOME as kxsync was started with (--pictures changes it)
};

// False with error set for an unknown option or a bad value.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// The option part of the usage text.
const char* OptionsUsage();

// The word for an option's value ("DIR" for "--pictures"); null for an option without a value or
// an unknown one.
const char* OptionValueName(const std::string& name);
// Whether every command takes the option (where the driver is, how to reach the handset, how
// kxsync shows what happens).
bool IsCommonOption(const std::string& name);

} // namespace kxsync
