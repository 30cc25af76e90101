// "kxsync demo": no phone needed. Starts kxphone-sim with seeded contacts on a free loopback
// port, reads every contact and event through the driver and prints a summary, then writes a few
// of each and reads them back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <json/json.h>

#include "calendar_command.h"
#include "command_line.h"
#include "commands.h"
#include "contacts_command.h"
#include "record_text.h"
#include "sync_command.h"
#include "write_command.h"

extern char** environ;

namespace kxsync {

namespace {

// A running kxphone-sim, stopped when this object goes.
class Simulator {
public:
    ~Simulator() { Stop(); }

    bool Start(const std::string& program, int contacts, const std::string& seed, std::string* error) {
        int out[2];
        if (pipe(out) != 0) {
            *error = "pipe failed";
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string count = std::to_string(contacts);
        // A free port of its own: the default one may be taken by a simulator the user runs.
        const char* argv[] = {program.c_str(),   "--db",        ":memory:",      "--port", "0",
                              "--seed-contacts", count.c_str(), "--seed-events", "200",    "--seed",
                              seed.c_str(),      "--quiet",     nullptr};
        int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            pid_ = -1;
            *error = "cannot start " + program + ": " + std::strerror(rc);
            return false;
        }
        // Seeding takes a while; the simulator says where it listens once it is ready.
        std::string text;
        const std::string marker = "listening on 127.0.0.1:";
        for (int waited = 0; waited < 120000;) {
            struct pollfd p = {out[0], POLLIN, 0};
            int n = poll(&p, 1, 200);
            waited += 200;
            if (n <= 0)
                continue;
            char buf[256];
            ssize_t got = read(out[0], buf, sizeof buf);
            if (got <= 0)
                break;
            text.append(buf, static_cast<size_t>(got));
            size_t at = text.find(marker);
            if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
                port_ = std::atoi(text.c_str() + at + marker.size());
                break;
            }
        }
        close(out[0]);
        if (port_ <= 0) {
            *error = "kxphone-sim did not report its port";
            return false;
        }
        return true;
    }

    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace

std::string AdminCall(int port, const char* method, const std::string& path, const std::string& body) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return std::string();
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a) == 0) {
        std::string request = std::string(method) + " " + path +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buf[4096];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
                answer.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

namespace {

long StoredContacts(int port) {
    std::string body = AdminCall(port, "GET", "/_sim/state", "");
    Json::Value state;
    if (!ParseJsonText(body, &state))
        return -1;
    const Json::Value& n = state["counts"]["contacts"];
    return n.isIntegral() ? static_cast<long>(n.asInt64()) : -1;
}

} // namespace

// The folder kxsync runs from, where kxphone-sim is built too.
std::string ProgramFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string p(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

int RunDemo(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    int contacts = 500;
    std::string seed = "1";
    char* end = nullptr;
    if (args.size() > 2 || (!args.empty() && (std::strtol(args[0].c_str(), &end, 10) < 0 || *end != '\0')) ||
        (args.size() == 2 && (std::strtoull(args[1].c_str(), &end, 10), *end != '\0'))) {
        return UsageError(session,
                          "demo takes a number of contacts N (500 by default) and a SEED, both whole "
                          "numbers");
    }
    if (!args.empty())
        contacts = std::atoi(args[0].c_str());
    if (args.size() == 2)
        seed = args[1];

    std::printf("Starting kxphone-sim with %d seeded contacts and 200 events (seed %s)...\n", contacts,
                seed.c_str());
    std::fflush(stdout);
    Simulator sim;
    std::string error;
    if (!sim.Start(ProgramFolder() + "/kxphone-sim", contacts, seed, &error)) {
        std::fprintf(stderr, "kxsync: %s\n", error.c_str());
        return 1;
    }
    std::printf("Handset service on 127.0.0.1:%d; reading all contacts through %s...\n", sim.port(),
                session.options.driverPath.c_str());
    std::fflush(stdout);

    // The driver writes every received picture into the user's application-data folder; the
    // demo lends it a scratch folder instead and clears it afterwards.
    char scratch[] = "/tmp/kxsync_demo_XXXXXX";
    bool lent = mkdtemp(scratch) != nullptr;
    const char* previous = std::getenv("XDG_DATA_HOME");
    std::string kept = previous ? previous : "";
    if (lent)
        setenv("XDG_DATA_HOME", scratch, 1);

    ContactReadOptions options;
    options.print = false;
    options.keepSamples = 3;
    ContactReadOutcome outcome;
    uint32_t callbacksBefore = g_recordCallbacks.load();
    ReadContacts(session, "127.0.0.1", sim.port(), options, &outcome);
    long stored = StoredContacts(sim.port());

    size_t pictures = 0;
    if (lent) {
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(std::string(scratch) + "/Vexo/data", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
            ++pictures;
    }

    std::printf("\nContacts read:      %d\n", outcome.delivered);
    if (stored >= 0)
        std::printf("Skipped:            %ld (other accounts)\n", stored - outcome.delivered);
    std::printf("Time:               %.3f s (%.0f contacts/s)\n", outcome.seconds,
                outcome.seconds > 0 ? outcome.delivered / outcome.seconds : 0.0);
    std::printf("Last progress:      %d%%\n", outcome.lastPercent);
    std::printf("Record callbacks:   %u\n", g_recordCallbacks.load() - callbacksBefore);
    std::printf("Pictures received:  %zu (written to files, removed after the demo)\n", pictures);
    std::printf("Read returned:      %s (final message 0x%X, value %ld)\n",
                ResultText(outcome.result).c_str(), outcome.finalCode, static_cast<long>(outcome.finalValue));
    std::printf("Samples:\n");
    for (const std::string& line : outcome.samples)
        std::printf("  %s\n", line.c_str());
    int calendar = CalendarDemoSection(session, "127.0.0.1", sim.port());
    // The read-back receives pictures too: the scratch folder stays lent until it is done.
    int writes = WriteDemoSection(session, "127.0.0.1", sim.port());
    int changes = SyncDemoSection(session, sim.port());
    int backups = BackupDemoSection(session, "127.0.0.1", sim.port());
    sim.Stop();
    if (lent) {
        std::error_code ec;
        std::filesystem::remove_all(scratch, ec);
        if (previous)
            setenv("XDG_DATA_HOME", kept.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    return outcome.result == 0 && calendar == 0 && writes == 0 && changes == 0 && backups == 0 ? 0 : 1;
}

} // namespace kxsync
