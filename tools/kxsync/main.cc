// kxsync: a command-line host for the driver. It loads vexoCorsaT3.so by path like a desktop
// host, gives it a host window and runs one operation.
#include <cstdio>
#include <string>
#include <vector>

#include "contacts_command.h"

namespace {

const char kUsage[] = "usage: kxsync [--url http://127.0.0.1:PORT] [--serial S] COMMAND [ARGS]\n"
                      "\n"
                      "commands:\n"
                      "  contacts read [--json] [--no-progress]\n"
                      "                   print every contact of the handset (JSON lines with --json);\n"
                      "                   progress on stderr, Ctrl-C stops the read\n"
                      "  demo [--contacts N] [--seed S]\n"
                      "                   start kxphone-sim with seeded contacts and read them all\n";

} // namespace

int main(int argc, char** argv) {
    kxsync::ServiceAddress address;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a.compare(0, 2, "--") != 0)
            break;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "kxsync: %s needs a value\n%s", a.c_str(), kUsage);
            return 2;
        }
        std::string value = argv[++i];
        if (a == "--url") {
            if (!kxsync::ParseServiceUrl(value, &address)) {
                std::fprintf(stderr, "kxsync: --url takes http://IP:PORT\n");
                return 2;
            }
        } else if (a == "--serial") {
            address.serial = value;
        } else {
            std::fprintf(stderr, "kxsync: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (i >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string command = argv[i];
    std::vector<std::string> args(argv + i + 1, argv + argc);
    if (command == "contacts")
        return kxsync::ContactsCommand(address, args);
    if (command == "demo")
        return kxsync::DemoCommand(args);
    std::fprintf(stderr, "kxsync: unknown command %s\n%s", command.c_str(), kUsage);
    return 2;
}
