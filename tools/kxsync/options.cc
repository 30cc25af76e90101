#include "options.h"

#include <cstdlib>
#include <cstring>

namespace kxsync {

namespace {

bool ParseNumber(const std::string& text, long low, long high, int* out) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    *out = static_cast<int>(value);
    return true;
}

bool ParsePort(const std::string& text, int* out) {
    return ParseNumber(text, 1, 65535, out);
}

// "http://IP:PORT" (the scheme may be left out) into address and port.
bool ParseUrl(const std::string& url, Options* options) {
    std::string rest = url.compare(0, 7, "http://") == 0 ? url.substr(7) : url;
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || !ParsePort(rest.substr(colon + 1), &options->port))
        return false;
    options->address = rest.substr(0, colon);
    return true;
}

// The options that take a value, with the word for it.
const struct {
    const char* name;
    const char* value;
} kWithValue[] = {{"--driver", "PATH"},   {"--address", "HOST"},    {"--port", "N"},
                  {"--serial", "SERIAL"}, {"--trace", "FILE"},      {"--url", "URL"},
                  {"--mode", "MODE"},     {"--timeout", "SECONDS"}, {"--pictures", "DIR"}};

const char* const kCommon[] = {"--driver",  "--address",     "--port",    "--url",  "--serial", "--trace",
                               "--timeout", "--no-progress", "--verbose", "--help", "--version"};

} // namespace

const char* OptionValueName(const std::string& name) {
    for (const auto& option : kWithValue)
        if (name == option.name)
            return option.value;
    return nullptr;
}

bool IsCommonOption(const std::string& name) {
    for (const char* option : kCommon)
        if (name == option)
            return true;
    return false;
}

const char* OptionsUsage() {
    return "Options:\n"
           "  --driver PATH     the driver library (default: vexoCorsaT3.so next to kxsync)\n"
           "  --address HOST    address of the handset service (default 127.0.0.1)\n"
           "  --port N          local port forwarded to the handset service (default 8182)\n"
           "  --url URL         the handset service as http://HOST:PORT (sets --address and --port)\n"
           "  --serial SERIAL   device serial of the handset (default emulator-5554)\n"
           "  --trace FILE      write the driver's trace lines to FILE (- for stderr)\n"
           "  --timeout SECONDS stop the command when it has not finished after SECONDS\n"
           "  --pictures DIR    contacts read, sync contacts: the contacts' pictures go to files in\n"
           "                    DIR/Vexo/data (default: $XDG_DATA_HOME/Vexo/data, else\n"
           "                    ~/.local/share/Vexo/data); the \"picture\" of a record names its file\n"
           "  --no-progress     no progress bar\n"
           "  --verbose         the driver calls of the session (InitDriver, SetParam, ...) on stderr\n"
           "  --json            read and write commands print one JSON line per record\n"
           "                    (docs/record-json.md)\n"
           "  --all             read commands: every field of a record in the text form\n"
           "  --keep-log        sync: leave the handset's change log as it is\n"
           "  --verify          write: check every record against the handset's limits first; send\n"
           "                    nothing when one does not fit\n"
           "  --mode MODE       restore: add-missing, add-all or replace\n"
           "  --dry-run         restore: show what would be deleted and created, write nothing\n"
           "  --yes             restore: allow a replace that loses over half of the handset's records\n"
           "  --version         the version of kxsync\n"
           "  -h, --help        this text\n"
           "\nRecords go to stdout, everything else to stderr. An option a command does not take is an\n"
           "error.\n"
           "\nEnvironment:\n"
           "  KXPHONE_ADB         the adb program the driver runs to reach the handset (default: adb\n"
           "                      from PATH); without it a failed request cannot reset the connection\n"
           "  KXPHONE_TRACE_FILE  file the driver writes its trace lines to (- for stderr); --trace\n"
           "                      overrides it\n"
           "\nWhile the driver retries a failed request (up to 6 attempts, about two minutes), each\n"
           "failed attempt and its cause is shown; the last line of a failed command names the cause.\n";
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() >= 2 && arg[0] == '-')
            options->given.push_back(arg == "-h" ? "--help" : arg.substr(0, arg.find('=')));
        if (arg.size() < 2 || arg[0] != '-') {
            if (options->command.empty())
                options->command = arg;
            else
                options->arguments.push_back(arg);
            continue;
        }
        // Options without a value: each sets one member.
        static const struct {
            const char* name;
            bool Options::*member;
            bool value;
        } kFlags[] = {
            {"-h", &Options::help, true},           {"--help", &Options::help, true},
            {"--version", &Options::version, true}, {"--no-progress", &Options::progress, false},
            {"--json", &Options::json, true},       {"--all", &Options::all, true},
            {"--verbose", &Options::verbose, true}, {"--keep-log", &Options::keepLog, true},
            {"--verify", &Options::verify, true},   {"--dry-run", &Options::dryRun, true},
            {"--yes", &Options::yes, true},
        };
        bool flag = false;
        for (const auto& f : kFlags) {
            if (arg == f.name) {
                options->*f.member = f.value;
                flag = true;
            }
        }
        if (flag)
            continue;
        std::string name = arg, value;
        bool hasValue = false;
        size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        if (!OptionValueName(name)) {
            *error = "unknown option " + arg;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                *error = name + " needs a value (" + name + " " + OptionValueName(name) + ")";
                return false;
            }
            value = argv[++i];
        }
        if (name == "--driver") {
            options->driverPath = value;
        } else if (name == "--address") {
            options->address = value;
        } else if (name == "--port") {
            if (!ParsePort(value, &options->port)) {
                *error = "bad port " + value;
                return false;
            }
        } else if (name == "--url") {
            if (!ParseUrl(value, options)) {
                *error = "bad url " + value + " (http://IP:PORT expected)";
                return false;
            }
        } else if (name == "--serial") {
            options->serial = value;
        } else if (name == "--trace") {
            options->traceFile = value;
        } else if (name == "--timeout") {
            if (!ParseNumber(value, 1, 86400, &options->timeoutSeconds)) {
                *error = "bad --timeout " + value + " (whole seconds from 1 to 86400)";
                return false;
            }
        } else if (name == "--pictures") {
            options->pictures = value;
        } else if (name == "--mode") {
            options->mode = value;
        }
    }
    return true;
}

} // namespace kxsync
