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

const char kUsageLine[] = "usage: kxphone-sim [--db FILE] [--port N] [options] [COMMAND ARG...]; "
                          "kxphone-sim --help lists them";

const char kUsage[] =
    "usage: kxphone-sim [--db FILE|:memory:] [--port N] [options] [COMMAND ARG...]\n"
    "\n"
    "Without a command it serves the handset data service on 127.0.0.1 until interrupted and\n"
    "prints \"listening on 127.0.0.1:PORT\" once ready; kxsync reaches it without options.\n"
    "\n"
    "options:\n"
    "  --db FILE|:memory:       the store: a SQLite file kept across runs, or :memory: (the default)\n"
    "  --port N                 port to listen on (default 8182, kxsync's; 0 picks a free one)\n"
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
    "commands, on the store of --db (edits made \"on the handset\": they enter the change logs):\n"
    "  state                            counts, tracking, fault rules\n"
    "  contact add|modify|delete JSON   (\"contacts\" also)\n"
    "  calendar add|modify|delete JSON\n"
    "  changelog contact|calendar\n"
    "  clear-changelog contact|calendar\n"
    "  tracking on|off                  calendar change tracking\n"
    "JSON is one object (or {\"objects\": [...]}) as the handset's providers keep it:\n"
    "  contact add      {\"account_name\", \"account_type\", \"sourceid\", \"starred\", \"__data\"}:\n"
    "                   account \"pcsc\" when none is given (kxsync reads only that account);\n"
    "                   \"__data\" is the list of data rows, each {\"mimetype\", \"data1\" ... \"data15\",\n"
    "                   \"is_primary\", \"is_super_primary\"}, with the columns of Android's\n"
    "                   ContactsContract: vnd.android.cursor.item/name (data2 given name, data3\n"
    "                   family name), .../phone_v2 (data1 number, data2 type: 1 home, 2 mobile,\n"
    "                   3 work), .../email_v2 (data1 address), .../organization (data1 company,\n"
    "                   data4 title), .../note (data1)\n"
    "  contact modify   {\"__id\", \"starred\", \"__data\"}: \"__data\" replaces every row\n"
    "  calendar add     the event columns \"calendar_id\", \"title\", \"description\", \"eventLocation\",\n"
    "                   \"dtstart\", \"dtend\" (milliseconds since 1970-01-01 UTC), \"duration\"\n"
    "                   (\"P3600S\"), \"allDay\" (0|1), \"hasAlarm\", \"rrule\" (RFC 5545), \"exdate\",\n"
    "                   \"eventTimezone\", \"iCalGUID\", \"parentID\", \"originalInstanceTime\",\n"
    "                   \"originalAllDay\", and \"__data\": reminders [{\"minutes\", \"method\"}]\n"
    "  calendar modify  \"__id\" and the columns to change\n"
    "  ... delete       {\"__id\"}\n"
    "Unknown keys, times that are not milliseconds and a missing \"__id\" are refused (exit 2).\n"
    "examples:\n"
    "  kxphone-sim --db phone.db contact add '{\"__data\":[{\"mimetype\":\"vnd.android.cursor.item/name\",\n"
    "      \"data2\":\"Ada\",\"data3\":\"Lovelace\"},{\"mimetype\":\"vnd.android.cursor.item/phone_v2\",\n"
    "      \"data1\":\"+44 20 7946 0000\",\"data2\":\"2\"}]}'\n"
    "  kxphone-sim --db phone.db calendar add '{\"calendar_id\":\"1\",\"title\":\"Review\",\n"
    "      \"dtstart\":\"1796896800000\",\"dtend\":\"1796900400000\",\"eventTimezone\":\"UTC\"}'\n"
    "  kxphone-sim --db phone.db contact modify '{\"__id\":\"1\",\"starred\":\"1\"}'\n";

void Note(const std::string& what) {
    fprintf(stderr, "kxphone-sim: %s\n", what.c_str());
}

// Says why on stderr; the exit status.
int Fail(int status, const std::string& why) {
    Note(why);
    return status;
}

// The one-line usage after what is wrong; the full text only with --help.
int Usage(const std::string& why, const char* usage = kUsageLine) {
    Note(why);
    fprintf(stderr, "%s\n", usage);
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

bool TakesValue(const std::string& option) {
    static const char* const kOptions[] = {"--db",
                                           "--journal",
                                           "--port",
                                           "--clock",
                                           "--seed-contacts",
                                           "--seed-events",
                                           "--seed",
                                           "--refuse",
                                           "--close-mid-body",
                                           "--undecipherable",
                                           "--non-json",
                                           "--fail-session-ctrl",
                                           "--stall",
                                           "--status",
                                           "--fault"};
    for (const char* o : kOptions)
        if (option == o)
            return true;
    return false;
}

// "contact"/"contacts" and "calendar" as the admin paths name them; "" for another word.
std::string Kind(const std::string& word) {
    if (word == "contact" || word == "contacts")
        return "contact";
    if (word == "calendar")
        return "calendar";
    return "";
}

// A command line's handset-side command as an admin request; false after saying what is wrong.
bool CommandRequest(const std::vector<std::string>& cmd, std::string* method, std::string* path,
                    std::string* body, int* status) {
    *body = "";
    *status = 2;
    const std::string& name = cmd[0];
    auto refuse = [&](const std::string& why, const char* usage) {
        Usage(why, usage);
        return false;
    };
    auto extra = [&](size_t wanted, const char* usage) {
        return cmd.size() > wanted ? refuse(name + ": unexpected argument " + cmd[wanted], usage) : true;
    };
    if (name == "state") {
        *method = "GET";
        *path = "/_sim/state";
        return extra(1, "usage: kxphone-sim [--db FILE] state");
    }
    if (!Kind(name).empty()) {
        const char* usage = name == "calendar"
                                ? "usage: kxphone-sim [--db FILE] calendar add|modify|delete JSON "
                                  "(kxphone-sim --help shows the JSON)"
                                : "usage: kxphone-sim [--db FILE] contact add|modify|delete JSON "
                                  "(kxphone-sim --help shows the JSON)";
        if (cmd.size() < 2)
            return refuse(name + " needs add, modify or delete", usage);
        const std::string& op = cmd[1];
        if (op != "add" && op != "modify" && op != "delete")
            return refuse(name + ": " + op + " is not add, modify or delete", usage);
        if (cmd.size() < 3)
            return refuse(name + " " + op + " needs a JSON object", usage);
        if (!extra(3, usage))
            return false;
        *method = "POST";
        *path = "/_sim/" + Kind(name) + "/" + op;
        *body = cmd[2];
        return true;
    }
    if (name == "changelog" || name == "clear-changelog") {
        const char* usage = name == "changelog"
                                ? "usage: kxphone-sim [--db FILE] changelog contact|calendar"
                                : "usage: kxphone-sim [--db FILE] clear-changelog contact|calendar";
        if (cmd.size() < 2)
            return refuse(name + " needs contact or calendar", usage);
        if (Kind(cmd[1]).empty())
            return refuse(name + ": " + cmd[1] + " is not contact or calendar", usage);
        if (!extra(2, usage))
            return false;
        *method = name == "changelog" ? "GET" : "POST";
        *path = "/_sim/changelog/" + Kind(cmd[1]) + (name == "changelog" ? "" : "/clear");
        return true;
    }
    if (name == "tracking") {
        const char* usage = "usage: kxphone-sim [--db FILE] tracking on|off";
        if (cmd.size() < 2 || (cmd[1] != "on" && cmd[1] != "off"))
            return refuse(cmd.size() < 2 ? "tracking needs on or off"
                                         : "tracking: " + cmd[1] + " is not on or off",
                          usage);
        if (!extra(2, usage))
            return false;
        *method = "POST";
        *path = "/_sim/tracking";
        *body = std::string("{\"calendar\":") + (cmd[1] == "on" ? "true" : "false") + "}";
        return true;
    }
    return refuse("unknown command " + name +
                      " (state, contact, calendar, changelog, clear-changelog or tracking)",
                  kUsageLine);
}

} // namespace

int main(int argc, char** argv) {
    std::string db = ":memory:", journalFile;
    long long port = 8182, clock = 0;
    bool portGiven = false;
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
        } else if (!TakesValue(a)) {
            return Usage("unknown option " + a);
        } else if (!value(&v)) {
            return Usage(a + " needs a value");
        } else if (a == "--db") {
            db = v;
        } else if (a == "--journal") {
            journalFile = v;
        } else if (a == "--port") {
            portGiven = true;
            if (!ToInt(v, 0, &port) || port > 65535)
                return Usage("--port takes 0 to 65535, not " + std::string(v));
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
        return Usage("--db needs a file name or :memory:");
    // A command's mistakes are said before the store is opened or seeded.
    std::string method, path, body;
    int commandStatus = 0;
    if (!command.empty() && !CommandRequest(command, &method, &path, &body, &commandStatus))
        return commandStatus;
    if (!command.empty() && db == ":memory:")
        Note("no --db FILE: the command works on an empty store in memory, which goes with it");

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
        kxsim::AdminAnswer a = kxsim::HandleAdmin(*store, nullptr, nullptr, method, path, body);
        if (a.httpStatus == 200) {
            printf("%s\n", kxsim::CompactJson(a.doc).c_str());
            return 0;
        }
        // A refused object is the caller's mistake; the store's own failures are not.
        const std::string usage = "usage: kxphone-sim [--db FILE] " + Kind(command[0]) +
                                  " add|modify|delete JSON (kxphone-sim --help shows the JSON)";
        return a.httpStatus == 400
                   ? Usage(a.doc["error"].asString(), Kind(command[0]).empty() ? kUsageLine : usage.c_str())
                   : Fail(1, a.doc["error"].asString());
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
        return Fail(1, error + (portGiven ? ""
                                          : " (another kxphone-sim? --port N chooses another port, --port 0 "
                                            "a free one)"));
    printf("listening on 127.0.0.1:%d\n", server.port());
    fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    server.Stop();
    return 0;
}
