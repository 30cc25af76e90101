// kxsync: a command-line host for the KXPhone driver.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "driver_library.h"
#include "host_window.h"
#include "interrupt.h"
#include "options.h"
#include "session.h"

namespace {

void PrintUsage(FILE* out) {
    std::fprintf(out, "Usage: kxsync [options] COMMAND [ARG...]\n\nCommands:\n");
    for (const kxsync::Command& command : kxsync::Commands()) {
        std::string head = std::string(command.name) + (*command.usage ? " " : "") + command.usage;
        std::fprintf(out, "  %-24s  %s\n", head.c_str(), command.summary);
    }
    std::fprintf(
        out, "\nA write FILE holds one record per line in the form \"read --json\" prints, with one more\n"
             "member \"op\": \"create\", \"update\" or \"delete\". Nothing is written when a line is bad;\n"
             "the exit status is 0 only when every record was written.\n");
    std::fprintf(out, "\n%s", kxsync::OptionsUsage());
}

} // namespace

int main(int argc, char** argv) {
    kxsync::Options options;
    std::string error;
    if (!kxsync::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "kxsync: %s\n\n", error.c_str());
        PrintUsage(stderr);
        return 2;
    }
    if (options.help) {
        PrintUsage(stdout);
        return 0;
    }
    const kxsync::Command* command = kxsync::FindCommand(options.command);
    if (!command) {
        if (options.command.empty())
            std::fprintf(stderr, "kxsync: no command given\n\n");
        else
            std::fprintf(stderr, "kxsync: unknown command %s\n\n", options.command.c_str());
        PrintUsage(stderr);
        return 2;
    }
    // The driver reads the trace target when it writes; set it before loading.
    if (!options.traceFile.empty())
        ::setenv("KXPHONE_TRACE_FILE", options.traceFile.c_str(), 1);
    if (options.driverPath.empty())
        options.driverPath = kxsync::DriverLibrary::DefaultPath();

    kxsync::DriverLibrary driver;
    kxsync::HostWindow window(options.progress);
    std::atomic<kxsync::Session*> running{nullptr};
    // Before the driver can start any thread, so every thread inherits the blocked signals.
    kxsync::InterruptToStop interrupt([&] {
        if (kxsync::Session* session = running.load())
            session->api.Stop(session->runningType.load(), 0);
    });
    if (!driver.Load(options.driverPath)) {
        std::fprintf(stderr, "kxsync: %s\n", driver.error().c_str());
        return 1;
    }
    options.driverPath = driver.path();
    kxsync::Session session{options, driver.api(), window};
    running = &session;
    int status = command->run(session);
    running = nullptr;
    window.FinishProgress();
    return status;
}
