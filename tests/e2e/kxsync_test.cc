// kxsync as a host runs it: the real driver library loaded by path, against kxphone-sim.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

namespace fs = std::filesystem;
using kxtest::CommandRun;

// env goes in front of the program; stderr is kept only when asked for.
CommandRun Kxsync(const std::string& arguments, const std::string& env = "", bool stderrToo = true) {
    return kxtest::RunCommand(env + "'" + kxtest::BinDir() + "/kxsync' " + arguments +
                              (stderrToo ? " 2>&1" : " 2>/dev/null"));
}

TEST(Kxsync, HelloRunsAShortHostSession) {
    CommandRun run = Kxsync("hello --no-progress --serial SN-1 --port 19001");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "InitDriver: driver id 0x26080018\n"
                          "SetParam(127.0.0.1, 19001): 0 (success)\n"
                          "InitSync(serial SN-1, port 19001): 0 (success)\n"
                          "  host messages: none\n"
                          "Read(type 7, no handler): 1100 (other failure)\n"
                          "  host messages: none\n"
                          "UninitSync: 0 (success)\n"
                          "callbacks: 0 record, 0 progress\n");
}

TEST(Kxsync, TraceGoesWhereItIsAsked) {
    CommandRun run = Kxsync("--trace - hello --no-progress");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[Tag=Call],[Module=vexoCorsaT3.dll],[Caller=Read],[Action=Enter],"
                              "[Function=theApp.m_FakePhone.Read]"),
              std::string::npos)
        << run.output;
}

TEST(Kxsync, BadCommandLinesAndAMissingDriver) {
    struct Case {
        const char* arguments;
        int status;
        const char* says;
    } cases[] = {
        {"", 2, "no command given"},
        {"frobnicate", 2, "unknown command frobnicate"},
        {"hello --port 0", 2, "bad port 0"},
        {"hello --bogus", 2, "unknown option --bogus"},
        {"hello --driver", 2, "--driver needs a value"},
        {"hello --driver /nonexistent/vexoCorsaT3.so", 1, "cannot load /nonexistent/vexoCorsaT3.so"},
        {"--help", 0, "KXPHONE_ADB"},
        {"--version", 0, "kxsync "},
        {"--timeout 0 hello", 2, "bad --timeout 0"},
        {"--trace /nonexistent/trace.txt hello", 2, "cannot open trace file /nonexistent/trace.txt"},
        {"--url nowhere contacts read", 2, ""},
        {"contacts write", 2, "kxsync [options] contacts write FILE [--json]"},
        {"calendar write", 2, "kxsync [options] calendar write FILE [--json]"},
        {"calendar write /nonexistent/events.jsonl", 2, "cannot read /nonexistent/events.jsonl"},
    };
    for (const Case& c : cases) {
        CommandRun run = Kxsync(c.arguments);
        EXPECT_EQ(run.exitCode, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

TEST(Kxsync, InfoPrintsStatusPropertiesAndProfiles) {
    kxtest::SimFixture sim(kxtest::SimOptions{0, 0, 1, ":memory:", 1326758400000, true});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CommandRun run = Kxsync("--port " + std::to_string(sim.port()) + " info");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    for (const char* line :
         {"Phone status: 0 (answering)\n", "  SDtotal: 8589934592\n",
          "  Phone: 54 fields (54 described), 4 entries, groups\n",
          "  reminders (minutes): 5 15 30 60 90 120\n",
          "  pictures: Pic Download (kind 3, 0 files, 0 subfolders)\n", "    Sub Box2: 0 messages\n"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(sim.Requests("/info/abc").size(), 1u);
}

class KxsyncContacts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }
    // Pictures the driver receives go to a folder of the test; stderr is dropped.
    CommandRun Run(const std::string& arguments, const std::string& env = "") {
        return Kxsync(arguments, "XDG_DATA_HOME=" + home_.path() + " " + env, false);
    }
    std::string AddContact(const std::string& rows, const char* account = "pcsc") {
        Json::Value c(Json::objectValue);
        c["account_name"] = account;
        c["__data"] = kxtest::ParseJson(rows);
        return sim_.AddContact(c);
    }

    kxtest::TempDir home_{"kx_kxsync_test"};
    kxtest::SimFixture sim_;
};

#define MT "\"mimetype\":\"vnd.android.cursor.item/"

TEST_F(KxsyncContacts, ReadPrintsEveryContactAsJsonLines) {
    const std::string rows = "[{" MT "name\",\"data2\":\"Ann\",\"data3\":\"Lee\"},"
                             "{" MT "phone_v2\",\"data1\":\"111\",\"data2\":\"2\"},"
                             "{" MT "phone_v2\",\"data1\":\"222\",\"data2\":\"2\"},"
                             "{" MT "email_v2\",\"data1\":\"ann@example.com\"}]";
    std::string id = AddContact(rows);
    AddContact(rows, "Google");

    CommandRun run = Run("--url " + sim_.BaseUrl() + " --serial S1 contacts read --json");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.Lines().size()) << run.output;
    Json::Value line = kxtest::ParseJson(run.Lines()[0]);
    EXPECT_EQ(id, line["id"].asString());
    EXPECT_EQ(kxtest::ParseJson(R"({"givenName":"Ann","familyName":"Lee","mobile":["111","222"],
        "email":"ann@example.com"})"),
              line["fields"]);

    CommandRun readable = Run("--url " + sim_.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, readable.exitCode);
    EXPECT_EQ(id + "  Ann Lee  mobile=111  mobile=222  email=ann@example.com\n", readable.output);
}

// Long values are cut for the one-line view on whole characters, never inside one.
TEST_F(KxsyncContacts, ReadableLineCutsLongValuesOnWholeCharacters) {
    std::string twoByte, threeByte, fourByte;
    for (int i = 0; i < 25; ++i)
        twoByte += "\u00e9"; // 50 bytes; 18 characters fit in 37
    for (int i = 0; i < 20; ++i)
        threeByte += "\u4e2d"; // 60 bytes; 12 characters fit in 37
    for (int i = 0; i < 13; ++i)
        fourByte += "\U0001F600"; // 52 bytes; 9 characters fit in 37
    std::string id = AddContact("[{" MT "name\",\"data2\":\"Ann\"},{" MT "email_v2\",\"data1\":\"" + twoByte +
                                "\"},{" MT "nickname\",\"data1\":\"" + threeByte +
                                "\"},{" MT "website\",\"data1\":\"" + fourByte + "\"}]");

    CommandRun run = Run("--url " + sim_.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.Lines().size());
    const std::string line = run.Lines()[0];
    const struct {
        const char* field;
        std::string value;
    } cut[] = {
        {"email=", twoByte.substr(0, 18 * 2) + "..."},
        {"nickname=", threeByte.substr(0, 12 * 3) + "..."},
        {"webSite=", fourByte.substr(0, 9 * 4) + "..."},
    };
    for (const auto& c : cut)
        EXPECT_NE(std::string::npos, line.find(std::string(c.field) + c.value)) << c.field << " in " << line;
    EXPECT_EQ(0u, line.find(id + "  Ann  ")) << line;
}

TEST_F(KxsyncContacts, FailedReadExitsWithOne) {
    ASSERT_TRUE(sim_.AddFault("status:-1:/contact/do/changelog"));
    // KXPHONE_ADB names a program that is not there: the readiness check fails quickly.
    CommandRun run = Run("--url " + sim_.BaseUrl() + " contacts read", "KXPHONE_ADB=/nonexistent ");
    EXPECT_EQ(1, run.exitCode);
    EXPECT_TRUE(run.output.empty());
}

TEST_F(KxsyncContacts, DemoReadsASeededPhone) {
    CommandRun run = Run("demo 40 2");
    EXPECT_EQ(0, run.exitCode);
    const std::string& text = run.output;
    int read = -1, skipped = -1;
    for (const std::string& l : run.Lines()) {
        std::sscanf(l.c_str(), "Contacts read: %d", &read);
        std::sscanf(l.c_str(), "Skipped: %d", &skipped);
    }
    EXPECT_GT(read, 30) << text;
    EXPECT_GE(skipped, 1) << text; // the seeded phone has contacts of other accounts
    EXPECT_EQ(40, read + skipped) << text;
    EXPECT_NE(text.find("Samples:"), std::string::npos) << text;
    EXPECT_NE(text.find("\nWrites:             all written and read back as written\n"), std::string::npos)
        << text;
    // Received pictures went to a scratch folder of the demo, not to the user's.
    EXPECT_NE(text.find("Pictures received:"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(home_.path() + "/Vexo"));
}

TEST(KxsyncCalendar, ReadPrintsEveryEventAsJson) {
    kxtest::SimFixture sim({.events = 25});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CommandRun run = Kxsync("--port " + std::to_string(sim.port()) + " --no-progress --json calendar read",
                            "TZ=UTC ", false);
    EXPECT_EQ(0, run.exitCode);
    std::map<std::string, Json::Value> byTitle;
    for (const std::string& line : run.Lines()) {
        Json::Value v;
        ASSERT_TRUE(Json::Reader().parse(line, v)) << line;
        byTitle[v["title"].asString()] = v;
    }
    EXPECT_EQ(25u, run.Lines().size()) << "stdout holds the events only";
    const Json::Value& standUp = byTitle["Stand-up"];
    EXPECT_EQ("2026-01-05 09:30:00", standUp["start"].asString());
    EXPECT_EQ("daily", standUp["repeat"]["kind"].asString());
    EXPECT_NE(std::string::npos, standUp["exceptions"].asString().find("<deletion time=\"2026/01/10\"/>"));
    EXPECT_EQ("weekly", byTitle["Gym"]["repeat"]["kind"].asString());
    EXPECT_EQ("MO,WE,FR", byTitle["Gym"]["repeat"]["days"].asString());
    EXPECT_TRUE(byTitle["New Year's Day"]["allDay"].asBool());
}

TEST(KxsyncCalendar, DemoReportsEventsRecurrencesAndExceptions) {
    kxtest::TempDir home("kxcal_demo_home");
    CommandRun run = Kxsync("--no-progress demo 5 1", "HOME=" + home.path() + " XDG_DATA_HOME= TZ=UTC ");
    EXPECT_EQ(0, run.exitCode) << run.output;
    int events = -1, allDay = -1, recurring = -1, withExceptions = -1, moved = -1, cancelled = -1;
    for (const std::string& line : run.Lines()) {
        std::sscanf(line.c_str(), "Events read: %d (%d all-day)", &events, &allDay);
        std::sscanf(line.c_str(), "Recurring events: %d, %d with exceptions", &recurring, &withExceptions);
        std::sscanf(line.c_str(), "Exceptions: %d moved or changed instances, %d cancelled", &moved,
                    &cancelled);
    }
    EXPECT_EQ(200, events) << run.output;
    EXPECT_GT(allDay, 0) << run.output;
    EXPECT_GT(recurring, 50) << run.output;
    // At least the stand-up, the gym and the sprint review of every seeded phone.
    EXPECT_GE(withExceptions, 3) << run.output;
    EXPECT_GE(moved, 3) << run.output;
    EXPECT_GE(cancelled, 4) << run.output;
}

} // namespace
