// "kxsync demo": no phone needed. Starts kxphone-sim with seeded contacts on a free loopback
// port, reads every contact through the driver and prints a summary.
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
#include <string>

#include <json/json.h>

#include "contacts_command.h"

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
        const char* argv[] = {
            program.c_str(), "--db",    ":memory:", "--seed-contacts", count.c_str(), "--seed",
            seed.c_str(),    "--quiet", nullptr};
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

// A plain GET on the simulator's own admin path; the body as text, empty on failure.
std::string AdminGet(int port, const char* path) {
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
        std::string request =
            std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buf[4096];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
                answer.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

long StoredContacts(int port) {
    std::string body = AdminGet(port, "/_sim/state");
    Json::CharReaderBuilder builder;
    Json::Value state;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(body.data(), body.data() + body.size(), &state, &errors))
        return -1;
    const Json::Value& n = state["counts"]["contacts"];
    return n.isIntegral() ? static_cast<long>(n.asInt64()) : -1;
}

} // namespace

int DemoCommand(const std::vector<std::string>& args) {
    int contacts = 500;
    std::string seed = "1";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--contacts" && i + 1 < args.size()) {
            contacts = std::atoi(args[++i].c_str());
        } else if (args[i] == "--seed" && i + 1 < args.size()) {
            seed = args[++i];
        } else {
            std::fputs("usage: kxsync demo [--contacts N] [--seed S]\n", stderr);
            return 2;
        }
    }
    if (contacts < 0) {
        std::fputs("kxsync: --contacts takes a count\n", stderr);
        return 2;
    }

    std::printf("Starting kxphone-sim with %d seeded contacts (seed %s)...\n", contacts, seed.c_str());
    std::fflush(stdout);
    Simulator sim;
    std::string error;
    if (!sim.Start(ProgramFolder() + "/kxphone-sim", contacts, seed, &error)) {
        std::fprintf(stderr, "kxsync: %s\n", error.c_str());
        return 1;
    }
    std::printf("Handset service on 127.0.0.1:%d; reading all contacts through the driver...\n", sim.port());
    std::fflush(stdout);

    ServiceAddress address;
    address.port = sim.port();
    address.serial = "kxphone-sim";
    ContactReadOptions options;
    options.print = false;
    options.keepSamples = 3;
    ContactReadOutcome outcome;
    if (!ReadContacts(address, options, &outcome))
        return 1;
    long stored = StoredContacts(sim.port());
    sim.Stop();

    std::printf("\nContacts read:      %d\n", outcome.delivered);
    if (stored >= 0)
        std::printf("Skipped:            %ld (other accounts)\n", stored - outcome.delivered);
    std::printf("Time:               %.3f s (%.0f contacts/s)\n", outcome.seconds,
                outcome.seconds > 0 ? outcome.delivered / outcome.seconds : 0.0);
    std::printf("Last progress:      %d%%\n", outcome.lastPercent);
    std::printf("Record callbacks:   %d\n", outcome.callbacks);
    std::printf("Read returned:      %d (final message 0x%X, value %ld)\n", outcome.result, outcome.finalCode,
                static_cast<long>(outcome.finalValue));
    std::printf("Samples:\n");
    for (const std::string& line : outcome.samples)
        std::printf("  %s\n", line.c_str());
    return outcome.result == 0 ? 0 : 1;
}

} // namespace kxsync
