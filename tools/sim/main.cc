// kxphone-sim: the handset data service on 127.0.0.1, or a handset-side command on a store file.
#include <json/value.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "admin.h"
#include "faults.h"
#include "json_text.h"
#include "seed.h"
#include "server.h"
#include "store.h"

namespace {

const char kUsage[] =
    "usage: kxphone-sim --db FILE|:memory: [options] [command]\n"
    "\n"
    "Without a command it serves on 127.0.0.1 until interrupted and prints\n"
    "\"listening on 127.0.0.1:PORT\" once ready.\n"
    "\n"
    "options:\n"
    "  --port N                 port to listen on (0, the default, picks a free one)\n"
    "  --seed-contacts N        seed an empty store with N contacts\n"
    "  --seed-events M          ... and M calendar events\n"
    "  --seed S                 seed of the sample data (default 1)\n"
    "  --journal FILE           append every request to FILE as a JSON line\n"
    "  --clock MS               answer with this fixed time (milliseconds since the epoch)\n"
    "  --quiet                  do not trace bad requests on stderr\n"
    "faults (the server keeps them until used up; /_sim/faults changes them at run time):\n"
    "  --refuse N               reset the next N connections at once\n"
    "  --stall SECONDS[:N]      wait before answering (every request, or the next N)\n"
    "  --close-mid-body N       close the next N answers halfway through the body\n"
    "  --undecipherable N       answer the next N requests with a body that is no envelope\n"
    "  --non-json N             answer the next N requests with an envelope that is not JSON\n"
    "  --status X:PATH[:N]      answer {\"status\":X} on PATH (always, or N times)\n"
    "  --fail-session-ctrl N    drop the next N \"/session_ctrl\" requests without answer\n"
    "  --fault KIND[:VALUE][:PATH][:N][:skip=K]  any fault rule (refuse, stall, status,\n"
    "                           drop, close_mid_body, undecipherable, non_json); skip=K lets\n"
    "                           the first K matching requests pass before it fires\n"
    "commands (handset-side edits enter the change logs):\n"
    "  state\n"
    "  contact add|modify|delete JSON\n"
    "  calendar add|modify|delete JSON\n"
    "  changelog contact|calendar\n"
    "  clear-changelog contact|calendar\n"
    "  tracking on|off\n";

void Note(const std::string& what) {
    fprintf(stderr, "kxphone-sim: %s\n", what.c_str());
}

// Says why on stderr; the exit status.
int Fail(int status, const std::string& why) {
    Note(why);
    return status;
}

int Usage(const std::string& why) {
    Note(why);
    fputs(kUsage, stderr);
    return 2;
}

bool ToInt(const char* text, long long min, long long* out) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min)
        return false;
    *out = v;
    return true;
}

// A command line's handset-side command as an admin request.
bool CommandRequest(const std::vector<std::string>& cmd, std::string* method, std::string* path,
                    std::string* body) {
    *body = "";
    if (cmd.size() == 1 && cmd[0] == "state") {
        *method = "GET";
        *path = "/_sim/state";
        return true;
    }
    if (cmd.size() == 3 && (cmd[0] == "contact" || cmd[0] == "calendar") &&
        (cmd[1] == "add" || cmd[1] == "modify" || cmd[1] == "delete")) {
        *method = "POST";
        *path = "/_sim/" + cmd[0] + "/" + cmd[1];
        *body = cmd[2];
        return true;
    }
    if (cmd.size() == 2 && (cmd[1] == "contact" || cmd[1] == "calendar")) {
        if (cmd[0] == "changelog") {
            *method = "GET";
            *path = "/_sim/changelog/" + cmd[1];
            return true;
        }
        if (cmd[0] == "clear-changelog") {
            *method = "POST";
            *path = "/_sim/changelog/" + cmd[1] + "/clear";
            return true;
        }
    }
    if (cmd.size() == 2 && cmd[0] == "tracking" && (cmd[1] == "on" || cmd[1] == "off")) {
        *method = "POST";
        *path = "/_sim/tracking";
        *body = std::string("{\"calendar\":") + (cmd[1] == "on" ? "true" : "false") + "}";
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::string db, journalFile;
    long long port = 0, clock = 0;
    kxsim::SeedOptions seed;
    bool quiet = false;
    std::vector<kxsim::FaultRule> faults;
    std::vector<std::string> command;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        auto fault = [&](const std::string& spec) {
            kxsim::FaultRule rule;
            std::string error;
            if (!kxsim::Faults::ParseSpec(spec, &rule, &error))
                return Fail(2, error);
            faults.push_back(rule);
            return 0;
        };
        const char* v = nullptr;
        long long n = 0;
        if (a == "-h" || a == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a.compare(0, 2, "--") != 0) {
            command.assign(argv + i, argv + argc);
            break;
        } else if (!value(&v)) {
            return Usage(a + " needs a value");
        } else if (a == "--db") {
            db = v;
        } else if (a == "--journal") {
            journalFile = v;
        } else if (a == "--port") {
            if (!ToInt(v, 0, &port) || port > 65535)
                return Usage("--port takes 0 to 65535");
        } else if (a == "--clock") {
            if (!ToInt(v, 0, &clock))
                return Usage("--clock takes milliseconds since the epoch");
        } else if (a == "--seed-contacts" || a == "--seed-events") {
            if (!ToInt(v, 0, &n) || n > 10000000)
                return Usage(a + " takes a count");
            (a == "--seed-contacts" ? seed.contacts : seed.events) = static_cast<int>(n);
        } else if (a == "--seed") {
            char* end = nullptr;
            seed.seed = std::strtoull(v, &end, 10);
            if (end == v || *end != '\0')
                return Usage("--seed takes a number");
        } else if (a == "--refuse" || a == "--close-mid-body" || a == "--undecipherable" ||
                   a == "--non-json" || a == "--fail-session-ctrl") {
            if (!ToInt(v, 1, &n))
                return Usage(a + " takes a positive count");
            std::string kind = a == "--refuse"           ? "refuse"
                               : a == "--close-mid-body" ? "close_mid_body"
                               : a == "--undecipherable" ? "undecipherable"
                               : a == "--non-json"       ? "non_json"
                                                         : "drop:/session_ctrl";
            if (int status = fault(kind + ":" + std::to_string(n)))
                return status;
        } else if (a == "--stall" || a == "--status") {
            // Until cleared, unless a count follows the value (and the path of a status).
            std::string spec = a.substr(2) + ":" + v;
            if (std::count(spec.begin(), spec.end(), ':') < (a == "--stall" ? 2 : 3))
                spec += ":-1";
            if (int status = fault(spec))
                return status;
        } else if (a == "--fault") {
            if (int status = fault(v))
                return status;
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (db.empty())
        return Usage("--db is required");

    std::string error;
    std::unique_ptr<kxsim::Store> store = kxsim::Store::Open(db, &error);
    if (!store)
        return Fail(1, error);
    if (seed.contacts > 0 || seed.events > 0) {
        if (!store->IsEmpty()) {
            Note(db + " already holds data; not seeding");
        } else {
            kxsim::StoreResult r = kxsim::Seed(*store, seed);
            if (!r.ok)
                return Fail(1, "seeding failed: " + r.error);
        }
    }
    store->SetFixedClock(clock);

    if (!command.empty()) {
        std::string method, path, body;
        if (!CommandRequest(command, &method, &path, &body))
            return Usage("unknown command " + command[0]);
        kxsim::AdminAnswer a = kxsim::HandleAdmin(*store, nullptr, nullptr, method, path, body);
        printf("%s\n", kxsim::CompactJson(a.doc).c_str());
        return a.httpStatus == 200 ? 0 : 1;
    }

    // Signals are taken by sigwait below; the server thread inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    kxsim::Server server(*store);
    server.SetQuiet(quiet);
    for (const kxsim::FaultRule& rule : faults)
        server.faults().Add(rule);
    if (!journalFile.empty() && !server.journal().OpenFile(journalFile, &error))
        return Fail(1, error);
    if (!server.Start(static_cast<int>(port), &error))
        return Fail(1, error);
    printf("listening on 127.0.0.1:%d\n", server.port());
    fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    server.Stop();
    return 0;
}
