// The server itself: the fault modes the e2e suites do not drive through the driver (refuse,
// stall, non_json and undecipherable run there), the journal, the admin paths, bad HTTP, the
// executable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim_test_util.h"
#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using simtest::Call;
using simtest::DriverRequest;
using simtest::Exchange;

kxtest::SimOptions Small() {
    kxtest::SimOptions o;
    o.contacts = 3;
    o.events = 3;
    return o;
}

using simtest::TempPath;

void RemoveDb(const std::string& db) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::remove((db + suffix).c_str());
}

TEST(SimFaults, EachModeBreaksTheNextMatchingRequestsThenGoesAway) {
    kxtest::SimFixture sim(Small());
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int port = sim.port();
    const std::string read =
        DriverRequest("GET", "/contact/do/read", EncryptPayload("{\"objects\":[{\"__id\":\"1\"}]}"));

    // Half the body, then the connection closes.
    ASSERT_TRUE(sim.AddFault("close_mid_body:1"));
    simtest::Raw cut = Exchange(port, read);
    EXPECT_GT(cut.declaredLength, 0);
    EXPECT_EQ(static_cast<long>(cut.body.size()), cut.declaredLength / 2);

    // A status for one path only, twice; other paths and later requests are answered normally.
    ASSERT_TRUE(sim.AddFault("status:-4:/contact/do/create:2"));
    Json::Value doc = simtest::Objects(Json::Value(Json::objectValue));
    EXPECT_EQ(simtest::Compact(Call(port, "GET", "/info/abc")).find("\"status\":0"), 1u);
    EXPECT_EQ(simtest::Compact(Call(port, "PUT", "/contact/do/create", &doc)), "{\"status\":-4}");
    EXPECT_EQ(simtest::Compact(Call(port, "PUT", "/contact/do/create", &doc)), "{\"status\":-4}");
    EXPECT_EQ(sim.store().Counts().contacts, 3); // refused writes are not carried out
    EXPECT_EQ(Call(port, "PUT", "/contact/do/create", &doc)["status"].asInt(), 0);
    EXPECT_EQ(sim.store().Counts().contacts, 4);

    // The plain-text group request has no "status": refused, it answers nothing.
    ASSERT_TRUE(sim.AddFault("status:-1:/contact/build_group_id:1"));
    simtest::Raw group =
        Exchange(port, DriverRequest("GET", "/contact/build_group_id", "cmd=get_group_title;value=1"));
    EXPECT_EQ(group.httpStatus, 500);
    EXPECT_EQ(group.body, "");

    // "/session_ctrl" dropped twice without an answer.
    ASSERT_TRUE(sim.AddFault("drop:/session_ctrl:2"));
    for (int i = 0; i < 3; ++i) {
        simtest::Raw r = Exchange(port, DriverRequest("POST", "/session_ctrl", ""));
        EXPECT_EQ(r.httpStatus, i < 2 ? 0 : 200) << i;
    }

    std::vector<std::string> faults;
    for (const kxsim::JournalEntry& e : sim.Requests())
        if (!e.fault.empty())
            faults.push_back(e.fault);
    EXPECT_EQ(faults,
              (std::vector<std::string>{"close_mid_body", "status", "status", "status", "drop", "drop"}));
    EXPECT_TRUE(sim.faults().List().empty());
}

TEST(SimFaults, RulesParseFromTheCommandLineForm) {
    struct Case {
        const char* spec;
        const char* json; // "" = rejected
    } cases[] = {
        {"status:-1:/contact/do/update",
         "{\"count\":1,\"kind\":\"status\",\"path\":\"/contact/do/update\",\"value\":-1}"},
        {"status:-4:/calendar/do/create:-1",
         "{\"count\":-1,\"kind\":\"status\",\"path\":\"/calendar/do/create\",\"value\":-4}"},
        {"stall:1.5", "{\"count\":1,\"kind\":\"stall\",\"value\":1500}"},
        {"refuse:3", "{\"count\":3,\"kind\":\"refuse\"}"},
        {"drop:/session_ctrl:4", "{\"count\":4,\"kind\":\"drop\",\"path\":\"/session_ctrl\"}"},
        {"non_json", "{\"count\":1,\"kind\":\"non_json\"}"},
        {"status", ""},
        {"status:x", ""},
        {"refuse:/info/abc:1", ""},
        {"stall:-1", ""},
        {"close_mid_body:0", ""},
        {"explode:1", ""},
        {"drop:/a:1:2", ""},
        {"drop:/a:1:skip=2", "{\"count\":1,\"kind\":\"drop\",\"path\":\"/a\",\"skip\":2}"},
        {"status:-4:/a:1e30", ""},
    };
    for (const Case& c : cases) {
        kxsim::FaultRule rule;
        std::string error;
        bool ok = kxsim::Faults::ParseSpec(c.spec, &rule, &error);
        EXPECT_EQ(ok, c.json[0] != '\0') << c.spec << " " << error;
        if (ok) {
            EXPECT_EQ(simtest::Compact(kxsim::Faults::ToJson(rule)), c.json) << c.spec;
        }
    }
}

// A skip count lets exactly that many requests on the rule's path pass, whether or not another
// rule took them. Outcome per request: its status, x no answer, c answer cut short.
TEST(SimFaults, SkipLetsTheFirstMatchingRequestsPass) {
    const std::string create = "/contact/do/create", info = "/info/abc";
    const std::vector<std::vector<std::string>> cases = {
        // outcomes, rules
        {"0044", "status:-4:/contact/do/create:2:skip=1"},
        {"10x0", "status:-1:/contact/do/create:1", "drop:/contact/do/create:1:skip=1"},
        {"000c", "close_mid_body:/contact/do/create:1:skip=2"},
        {"0x00", "refuse:1:skip=1"},
    };
    for (const auto& c : cases) {
        kxtest::SimFixture sim(Small());
        for (size_t i = 1; i < c.size(); ++i)
            ASSERT_TRUE(sim.AddFault(c[i])) << c[i];
        std::string outcomes;
        Json::Value doc = simtest::Objects(Json::Value(Json::objectValue));
        for (const std::string& path : {create, info, create, create}) {
            simtest::Raw r;
            Json::Value a = Call(sim.port(), path == create ? "PUT" : "GET", path, &doc, &r);
            outcomes += r.httpStatus == 0 ? 'x'
                        : r.declaredLength != static_cast<long>(r.body.size())
                            ? 'c'
                            : static_cast<char>('0' - a["status"].asInt());
        }
        EXPECT_EQ(outcomes, c[0]) << c[1];
    }
}

TEST(SimJournal, RecordsWhatTheDriverSentAndWhichSessionsWereNeverConfirmed) {
    std::string file = TempPath("journal.jsonl");
    std::remove(file.c_str());
    kxtest::SimFixture sim(Small());
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string error;
    ASSERT_TRUE(sim.journal().OpenFile(file, &error)) << error;
    const int port = sim.port();

    std::string body = "{\"objects\":[{\"__id\":\"2\"}]}";
    Exchange(port, DriverRequest("GET", "/contact/do/read", EncryptPayload(body.c_str()), "0000000042_a"));
    Exchange(port, DriverRequest("POST", "/session_ctrl", "", "0000000042_a"));
    Exchange(port,
             DriverRequest("GET", "/contact/build_group_id", "cmd=get_group_title;value=1", "0000000042_b"));
    Exchange(port, DriverRequest("GET", "/contact/do/changelog", "", "0000000042_c"));

    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::vector<kxsim::JournalEntry> all = sim.Requests();
    ASSERT_EQ(all.size(), 4u);
    ASSERT_EQ(lines.size(), 4u);
    const std::string bodies[] = {body, "", "cmd=get_group_title;value=1", ""};
    for (size_t i = 0; i < 4; ++i) {
        Json::Value fromFile = simtest::Parse(lines[i]);
        EXPECT_EQ(all[i].path + " " + all[i].session + " " + all[i].body,
                  fromFile["path"].asString() + " " + fromFile["session"].asString() + " " + bodies[i]);
        EXPECT_EQ(all[i].body, fromFile["body"].asString());
    }
    EXPECT_EQ(all[0].method + " " + all[0].path + " " + all[0].session, "GET /contact/do/read 0000000042_a");
    EXPECT_EQ(all[3].path, "/contact/do/changelog");
    EXPECT_EQ(sim.journal().UnconfirmedSessions(),
              (std::vector<std::string>{"0000000042_b", "0000000042_c"}));

    // The admin path hands out the same, and is not journaled itself.
    simtest::Raw admin = Exchange(port, "GET /_sim/journal HTTP/1.1\r\n\r\n");
    Json::Value doc = simtest::Parse(admin.body);
    EXPECT_EQ(doc["entries"].size(), 4u);
    EXPECT_EQ(doc["unconfirmed"].size(), 2u);
    EXPECT_EQ(sim.Requests().size(), 4u);
    std::remove(file.c_str());
}

TEST(SimAdmin, HttpPathsEditTheHandsetAndSetFaults) {
    kxtest::SimFixture sim(Small());
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int port = sim.port();
    auto admin = [port](const std::string& method, const std::string& path, const std::string& body) {
        std::string req = method + " " + path +
                          " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return simtest::Parse(Exchange(port, req).body);
    };
    Json::Value added =
        admin("POST", "/_sim/contact/add",
              "{\"__data\":[{\"mimetype\":\"vnd.android.cursor.item/name\",\"data2\":\"Über\"}]}");
    EXPECT_EQ(simtest::Compact(added), "{\"objects\":[{\"__id\":\"4\",\"count\":\"1\"}],\"ok\":true}");
    EXPECT_EQ(
        simtest::Compact(admin("GET", "/_sim/changelog/contact", "")),
        "{\"objects\":[{\"__id\":\"4\",\"_add\":\"1\",\"_delete\":\"0\",\"_modify\":\"1\"}],\"ok\":true}");
    EXPECT_TRUE(admin("POST", "/_sim/changelog/contact/clear", "")["ok"].asBool());
    EXPECT_EQ(admin("GET", "/_sim/state", "")["counts"]["contact_log"].asInt(), 0);

    EXPECT_TRUE(
        admin("POST", "/_sim/faults", "{\"kind\":\"status\",\"value\":-1,\"path\":\"/info/abc\"}")["ok"]
            .asBool());
    EXPECT_EQ(Call(port, "GET", "/info/abc")["status"].asInt(), -1);
    EXPECT_FALSE(admin("POST", "/_sim/faults", "{\"kind\":\"boom\"}")["ok"].asBool());
    EXPECT_TRUE(
        admin("POST", "/_sim/faults", "{\"faults\":[{\"kind\":\"refuse\",\"count\":-1}]}")["ok"].asBool());
    EXPECT_EQ(sim.faults().List().size(), 1u);
    sim.faults().Clear();
    EXPECT_TRUE(admin("POST", "/_sim/clock", "{\"now\":1000}")["ok"].asBool());
    EXPECT_EQ(Call(port, "GET", "/info/abc")["time"]["now"].asString(), "1000");
    EXPECT_FALSE(admin("GET", "/_sim/nothing", "")["ok"].asBool());
    EXPECT_FALSE(admin("POST", "/_sim/contact/add", "{not json")["ok"].asBool());
}

// A request waiting for the store (held by a handset edit) keeps one server thread; the other
// answers meanwhile, and the journal shows the two overlapping.
TEST(SimServer, TwoRequestsAreServedAtOnce) {
    kxtest::SimFixture sim(Small());
    std::atomic<bool> held{false}, release{false};
    std::thread edit([&] {
        sim.store().Batch([&](kxsim::Store&) {
            for (int i = 0; i < 300 && !release; ++i, held = true) // 3 s at most, whatever happens
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return true;
        });
    });
    while (!held)
        std::this_thread::yield();
    Json::Value ids = simtest::Ids({"1"});
    std::thread read([&] { Call(sim.port(), "GET", "/contact/do/read", &ids); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Exchange(sim.port(), DriverRequest("POST", "/session_ctrl", ""));
    release = true;
    read.join();
    edit.join();
    std::vector<kxsim::JournalEntry> j = sim.Requests();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].path, "/session_ctrl");
    EXPECT_LT(j[1].arrivedMs, j[0].answeredMs);
}

TEST(SimServer, UnreadableHttpIsAnsweredAndNeverKillsTheServer) {
    kxtest::SimFixture sim(Small());
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int port = sim.port();
    // A body larger than the server takes: refused from the header, nothing allocated for it.
    simtest::Raw huge =
        Exchange(port, "GET /contact/do/read HTTP/1.1\r\nContent-Length:99999999999\r\n\r\nx");
    EXPECT_EQ(huge.httpStatus, 413);
    simtest::Raw junk = Exchange(port, "\x01\x02 not http at all\r\n\r\n");
    EXPECT_EQ(junk.httpStatus, 400);
    // A peer that goes away in the middle of its body.
    Exchange(port, "GET /contact/do/read HTTP/1.1\r\nContent-Length:100\r\n\r\nshort", true);
    EXPECT_EQ(Call(port, "GET", "/contact/do/changelog")["objects"].size(), 3u);
}

// Two clients (the driver's reader and a write worker) and handset edits from a third thread.
TEST(SimServer, ConcurrentClientsAndHandsetEditsEachGetWholeAnswers) {
    kxtest::SimFixture sim(Small());
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int port = sim.port();
    std::atomic<int> bad{0};
    auto client = [&](bool writer) {
        for (int i = 0; i < 20; ++i) {
            Json::Value doc =
                writer ? simtest::Objects(Json::Value(Json::objectValue)) : simtest::Ids({"1", "2"});
            Json::Value a =
                Call(port, writer ? "PUT" : "GET", writer ? "/contact/do/create" : "/contact/do/read", &doc);
            if (a["status"].asInt() != 0 || a["objects"].size() != (writer ? 1u : 2u))
                ++bad;
        }
    };
    std::thread reader(client, false), writer(client, true);
    Json::Value contact(Json::objectValue);
    for (int i = 0; i < 20; ++i)
        if (sim.AddContact(contact).empty())
            ++bad;
    reader.join();
    writer.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(sim.store().Counts().contacts, 43);
    EXPECT_EQ(sim.store().Counts().contactLog, 20); // only the handset's own additions
}

TEST(SimStore, AFileStoreKeepsItsDataAcrossARestart) {
    std::string db = TempPath("persist.db");
    RemoveDb(db);
    kxtest::SimOptions o = Small();
    o.db = db;
    std::string created;
    {
        kxtest::SimFixture sim(o);
        ASSERT_TRUE(sim.ok()) << sim.error();
        Json::Value doc = simtest::Objects(Json::Value(Json::objectValue));
        created = Call(sim.port(), "PUT", "/contact/do/create", &doc)["objects"][0]["__id"].asString();
        ASSERT_TRUE(sim.DeleteContact("1"));
        simtest::Group(sim.port(), "cmd=get_group_id;value=Nachbarn");
    }
    {
        kxtest::SimFixture sim(o); // the same seed options do not seed a store that holds data
        ASSERT_TRUE(sim.ok()) << sim.error();
        EXPECT_EQ(simtest::Compact(Call(sim.port(), "GET", "/contact/do/changelog")["objects"]),
                  "[{\"__id\":\"2\"},{\"__id\":\"3\"},{\"__id\":\"" + created + "\"}]");
        Json::Value which(Json::objectValue);
        which["contact"] = 1;
        EXPECT_EQ(Call(sim.port(), "GET", "/tracking/do/changelog", &which)["objects"].size(), 1u);
        EXPECT_EQ(simtest::Group(sim.port(), "cmd=get_group_title;value=9"), "Nachbarn");
    }
    RemoveDb(db);
}

// The real executable: "listening on" once ready, handset-side commands on a store file.
TEST(SimExecutable, ServesUntilInterruptedAndRunsCommandsOnAStoreFile) {
    std::string exe = kxtest::BinDir() + "/kxphone-sim";
    std::string db = TempPath("cli.db");
    RemoveDb(db);

    auto run = [&](const std::string& arguments) {
        return kxtest::RunCommand(exe + " --db " + db + arguments);
    };
    kxtest::CommandRun r =
        run(" --seed-contacts 4 --seed-events 2 contact modify '{\"__id\":\"2\",\"starred\":\"1\"}'");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "{\"objects\":[{\"__id\":\"2\",\"count\":\"1\"}],\"ok\":true}\n");
    EXPECT_EQ(
        run(" changelog contact").output,
        "{\"objects\":[{\"__id\":\"2\",\"_add\":\"0\",\"_delete\":\"0\",\"_modify\":\"1\"}],\"ok\":true}\n");
    EXPECT_EQ(run(" --port 70000 2>/dev/null").exitCode, 2);
    EXPECT_EQ(run(" frobnicate 2>/dev/null").exitCode, 2);

    // Serving: read the port from the first line, ask, interrupt.
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(exe.c_str(), exe.c_str(), "--db", db.c_str(), "--port", "0", "--quiet",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ASSERT_EQ(line.compare(0, 23, "listening on 127.0.0.1:"), 0) << line;
    int port = std::atoi(line.c_str() + 23);
    EXPECT_EQ(Call(port, "GET", "/contact/do/changelog")["objects"].size(), 4u);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    RemoveDb(db);
}

} // namespace
