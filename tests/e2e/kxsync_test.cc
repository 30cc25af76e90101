// kxsync as a host runs it: the real driver library loaded by path, against kxphone-sim.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// kxsync's command line, case by case against one simulator: the exit status, a fragment of
// stderr, and what stdout holds (a fragment, or records only).
TEST(Kxsync, CommandLines) {
    kxtest::SimFixture sim({.contacts = 16, .events = 12});
    ASSERT_TRUE(sim.ok()) << sim.error();
    kxtest::TempDir home("kx_kxsync_cli");
    const std::string port = " --port " + std::to_string(sim.port()) + " ";
    const std::string pictures = home.path() + "/pictures";
    { std::ofstream(home.path() + "/read.jsonl") << "{\"id\":\"1\",\"fields\":{\"givenName\":[\"A\"]}}\n"; }
    const int stored = static_cast<int>(sim.store().Counts().contacts);
    const char* const kRecords = "(records)"; // stdout: JSON lines only, or readable lines only
    const char* const kNothing = "(nothing)";
    const struct Case {
        std::string arguments;
        int status;
        std::string stderrHas;
        std::string stdoutHas;  // "" for anything
        std::string fault = ""; // a fault rule of the simulator for this case
    } cases[] = {
        // Conventions: usage errors name what is wrong and end with a one-line usage.
        {"", 2, "kxsync: no command given\nusage: kxsync [options] COMMAND [ARG...]; kxsync --help",
         kNothing},
        {"contcts read", 2, "unknown command contcts; did you mean contacts?\nusage: kxsync", kNothing},
        {"calender read", 2, "did you mean calendar?", kNothing},
        {"frobnicate", 2, "unknown command frobnicate\nusage: kxsync [options] COMMAND", kNothing},
        {"contacts", 2,
         "contacts needs one of read, write or verify\nusage: kxsync [options] contacts read|write",
         kNothing},
        {"contacts raed", 2, "contacts: raed is not read, write or verify; did you mean read?", kNothing},
        {"sync contcts", 2, "sync: contcts is not contacts or calendar; did you mean contacts?", kNothing},
        {"contacts read extra", 2, "contacts read: unexpected argument extra", kNothing},
        {"contacts write", 2, "contacts write needs a FILE", kNothing},
        {"calendar write", 2, "calendar write needs a FILE", kNothing},
        {"calendar write /nonexistent/events.jsonl", 2, "cannot read /nonexistent/events.jsonl", kNothing},
        {"contacts write " + home.path() + "/read.jsonl", 2,
         "read.jsonl:1: no \"op\" (create, update or delete)", kNothing},
        {"backup contacts", 2, "backup contacts needs a folder DIR", kNothing},
        {"restore contacts " + home.path(), 2, "restore needs --mode add-missing, add-all or replace",
         kNothing},
        {"demo many", 2, "demo takes a number of contacts N", kNothing},
        // An option a command does not take is an error.
        {"calendar read --pictures /tmp", 2,
         "calendar read does not take --pictures\nusage: kxsync [options] calendar", kNothing},
        {"info --json", 2, "info does not take --json", kNothing},
        {"contacts write f --all", 2, "contacts write does not take --all", kNothing},
        {"contacts read --verify", 2, "contacts read does not take --verify", kNothing},
        {"backup contacts /tmp --keep-log", 2, "backup contacts does not take --keep-log", kNothing},
        {"restore contacts /tmp --mode add-all --json", 2, "restore contacts does not take --json", kNothing},
        {"hello --bogus", 2, "unknown option --bogus", kNothing},
        {"hello --driver", 2, "--driver needs a value (--driver PATH)", kNothing},
        {"hello --port 0", 2, "bad port 0", kNothing},
        {"--timeout 0 hello", 2, "bad --timeout 0", kNothing},
        {"--url nowhere contacts read", 2, "bad url nowhere", kNothing},
        {"--address no-such-host.invalid contacts read", 2, "cannot resolve no-such-host.invalid", kNothing},
        {"--trace /nonexistent/trace.txt hello", 2, "cannot open trace file /nonexistent/trace.txt",
         kNothing},
        {"hello --driver /nonexistent/vexoCorsaT3.so", 1, "cannot load /nonexistent/vexoCorsaT3.so",
         kNothing},
        {"--help", 0, "", "KXPHONE_ADB"},
        {"--version", 0, "", "kxsync 1."},
        // Records only on stdout; one summary form for both reads, with what was skipped and why.
        {port + "contacts read --pictures " + pictures, 0, "contacts read in ", kRecords},
        {port + "contacts read --json --pictures " + pictures, 0,
         "skipped (other accounts' contacts); Read returned 0 (success)\nkxsync: the pictures of ", kRecords},
        {port + "contacts read --all --pictures " + pictures, 0, "files in " + pictures + "/Vexo/data",
         "  picture="},
        {port + "calendar read", 0, "kxsync: 12 events read in ", kRecords},
        {port + "calendar read --json", 0, "; 0 skipped; Read returned 0 (success)", kRecords},
        {port + "calendar read --all", 0, "events read", "  repeat.kind="},
        {port + "calendar read --verbose", 0, "InitSync(serial emulator-5554", kRecords},
        {"--address localhost" + port + "calendar read", 0, "events read", kRecords},
        {port + "sync calendar --keep-log --json", 0, "change log kept", ""},
        {port + "info", 0, "", "  phone memory: 123435354 of 1346457456 bytes free\n"},
        {port + "info", 1, "kxsync: the handset did not answer (phone status 2)", kNothing,
         "status:-4:/info/abc"},
        {port + "contacts read", 1, "the handset answered with status -1", kNothing,
         "status:-1:/contact/do/changelog"},
        {"hello --no-progress --serial SN-1 --port 19001", 0, "",
         "InitDriver: driver id 0x26080018\nSetParam(127.0.0.1, 19001): 0 (success)\n"
         "InitSync(serial SN-1, port 19001): 0 (success)\n  host messages: none\n"
         "Read(type 7, no handler): 1100 (other failure)\n  host messages: none\nUninitSync: 0 (success)\n"
         "callbacks: 0 record, 0 progress\n"},
        {"--trace - hello", 0,
         "[Tag=Call],[Module=vexoCorsaT3.dll],[Caller=Read],[Action=Enter],[Function=theApp.m_FakePhone."
         "Read]",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("kxsync " + c.arguments);
        if (!c.fault.empty()) {
            ASSERT_TRUE(sim.AddFault(c.fault));
        }
        const std::string err = home.path() + "/stderr";
        CommandRun run = kxtest::RunCommand("KXPHONE_ADB=/nonexistent TZ=UTC '" + kxtest::BinDir() +
                                            "/kxsync' " + c.arguments + " 2>" + err);
        const std::string stderrText = kxtest::FileBytes(err);
        sim.faults().Clear();
        EXPECT_EQ(c.status, run.exitCode) << stderrText;
        EXPECT_NE(std::string::npos, stderrText.find(c.stderrHas)) << stderrText;
        if (c.stdoutHas == kNothing) {
            EXPECT_EQ("", run.output);
        } else if (c.stdoutHas == kRecords) {
            // Every line a record: a JSON object, or a readable line that starts with its id.
            ASSERT_FALSE(run.Lines().empty());
            EXPECT_LE(run.Lines().size(), static_cast<size_t>(stored + 12));
            for (const std::string& line : run.Lines())
                EXPECT_TRUE(line.front() == '{' || std::isdigit(static_cast<unsigned char>(line.front())))
                    << line;
            EXPECT_EQ(std::string::npos, run.output.find("InitSync")) << run.output;
        } else {
            EXPECT_NE(std::string::npos, run.output.find(c.stdoutHas)) << run.output;
        }
    }
    // Help lists what a user runs; "hello" is the driver developers' own.
    CommandRun help = kxtest::RunCommand("'" + kxtest::BinDir() + "/kxsync' --help");
    EXPECT_EQ(std::string::npos, help.output.find("\n  hello")) << help.output;
}

TEST(Kxsync, InfoPrintsStatusPropertiesAndProfiles) {
    kxtest::SimFixture sim(kxtest::SimOptions{0, 0, 1, ":memory:", 1326758400000, true});
    ASSERT_TRUE(sim.ok()) << sim.error();
    CommandRun run = Kxsync("--port " + std::to_string(sim.port()) + " info");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    for (const char* line :
         {"Phone status: 0 (answering)\n", "  SD card: 2343434544 of 8589934592 bytes free\n",
          "  battery: 90 %\n", "  Phone: 54 fields (54 described), 4 entries, groups\n",
          "  reminders (minutes): 5 15 30 60 90 120\n",
          "  pictures: Pic Download (kind 3, 0 files, 0 subfolders)\n",
          // Two stores, each with its total and folders that add up to it.
          "E-mail (the driver's sample store): 4 e-mails\n  Inbox: 2 e-mails\n", "    Sub Box2: 0 e-mails\n",
          "Text messages (the driver's sample store): 4 messages\n  Inbox: 3 messages, 1 unread\n"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    EXPECT_EQ(sim.Requests("/info/abc").size(), 1u);
}

#define MT "\"mimetype\":\"vnd.android.cursor.item/"

// The account's contacts as JSON lines (every field a list, the lone ones too), or one readable
// line each, long values cut on whole characters, never inside one, and control characters
// escaped; --all shows every field whole.
TEST(KxsyncContacts, ReadPrintsJsonOrReadableLines) {
    kxtest::SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    kxtest::TempDir home("kx_kxsync_test");
    // Pictures the driver receives go to a folder of the test; stderr is dropped.
    auto Run = [&](const std::string& arguments) {
        return Kxsync("--url " + sim.BaseUrl() + " " + arguments, "XDG_DATA_HOME=" + home.path() + " ",
                      false);
    };
    auto AddContact = [&](const std::string& rows, const char* account = "pcsc") {
        Json::Value c(Json::objectValue);
        c["account_name"] = account;
        c["__data"] = kxtest::ParseJson(rows);
        return sim.AddContact(c);
    };
    const std::string rows = "[{" MT "name\",\"data2\":\"Ann\",\"data3\":\"Lee\"},"
                             "{" MT "phone_v2\",\"data1\":\"111\",\"data2\":\"2\"},"
                             "{" MT "phone_v2\",\"data1\":\"222\",\"data2\":\"2\"},"
                             "{" MT "email_v2\",\"data1\":\"ann@example.com\"}]";
    const std::string ann = AddContact(rows);
    AddContact(rows, "Google");
    std::string twoByte, threeByte, fourByte;
    for (int i = 0; i < 25; ++i)
        twoByte += "\u00e9"; // 50 bytes; 18 characters fit in 37
    for (int i = 0; i < 20; ++i)
        threeByte += "\u4e2d"; // 60 bytes; 12 characters fit in 37
    for (int i = 0; i < 13; ++i)
        fourByte += "\U0001F600"; // 52 bytes; 9 characters fit in 37
    const std::string cut = AddContact("[{" MT "name\",\"data2\":\"Ann\"},{" MT "email_v2\",\"data1\":\"" +
                                       twoByte + "\"},{" MT "nickname\",\"data1\":\"" + threeByte +
                                       "\"},{" MT "website\",\"data1\":\"" + fourByte + "\"}]");
    const std::string escaped = AddContact(
        "[{" MT "name\",\"data2\":\"Ann\\tB\"},{" MT "nickname\",\"data1\":\"x\\ny\\u0007\"},"
        "{" MT "note\",\"data1\":\"one\\ntwo\"},{" MT "phone_v2\",\"data1\":\"1\",\"data2\":\"2\"},"
        "{" MT "email_v2\",\"data1\":\"a@b\"},{" MT "website\",\"data1\":\"w\"}]");

    CommandRun json = Run("--serial S1 contacts read --json");
    EXPECT_EQ(0, json.exitCode);
    std::map<std::string, Json::Value> records = kxtest::JsonLinesById(json.output);
    ASSERT_EQ(3u, records.size()) << json.output;
    EXPECT_EQ(kxtest::ParseJson(R"({"givenName":["Ann"],"familyName":["Lee"],"mobile":["111","222"],
        "email":["ann@example.com"]})"),
              records[ann]["fields"]);

    std::map<std::string, std::string> readable, all; // by id
    for (auto [flags, lines] : {std::pair{"", &readable}, {" --all", &all}}) {
        CommandRun run = Run(std::string("contacts read --no-progress") + flags);
        EXPECT_EQ(0, run.exitCode);
        EXPECT_EQ(3u, run.Lines().size()) << run.output;
        for (const std::string& line : run.Lines())
            (*lines)[line.substr(0, line.find("  "))] = line;
    }
    EXPECT_EQ(ann + "  Ann Lee  mobile=111  mobile=222  email=ann@example.com", readable[ann]);
    for (const std::string& value :
         {"email=" + twoByte.substr(0, 18 * 2) + "...", "nickname=" + threeByte.substr(0, 12 * 3) + "...",
          "webSite=" + fourByte.substr(0, 9 * 4) + "..."})
        EXPECT_NE(std::string::npos, readable[cut].find(value)) << value << " in " << readable[cut];
    EXPECT_EQ(0u, readable[cut].find(cut + "  Ann  ")) << readable[cut];
    EXPECT_EQ(escaped + "  Ann\\tB  nickname=x\\ny\\x07  mobile=1  email=a@b  (+2 more)", readable[escaped]);
    EXPECT_EQ(0u, all[escaped].find(escaped + "  Ann\\tB  nickname=x\\ny\\x07  note=one\\r\\ntwo  mobile=1  "
                                              "email=a@b  webSite=w  modified=20"))
        << all[escaped];
}

// The demo seeds 200 events whatever the number of contacts.
TEST(Kxsync, DemoReadsASeededPhone) {
    kxtest::TempDir home("kx_kxsync_demo");
    CommandRun run = Kxsync("--no-progress demo 40 2", "XDG_DATA_HOME=" + home.path() + " TZ=UTC ", false);
    EXPECT_EQ(0, run.exitCode) << run.output;
    int read = -1, skipped = -1;
    int events = -1, allDay = -1, recurring = -1, withExceptions = -1, moved = -1, cancelled = -1;
    for (const std::string& line : run.Lines()) {
        std::sscanf(line.c_str(), "Contacts read: %d", &read);
        std::sscanf(line.c_str(), "Skipped: %d", &skipped);
        std::sscanf(line.c_str(), "Events read: %d (%d all-day)", &events, &allDay);
        std::sscanf(line.c_str(), "Recurring events: %d, %d with exceptions", &recurring, &withExceptions);
        std::sscanf(line.c_str(), "Exceptions: %d moved or changed instances, %d cancelled", &moved,
                    &cancelled);
    }
    const std::string& text = run.output;
    EXPECT_GT(read, 30) << text;
    EXPECT_GE(skipped, 1) << text; // the seeded phone has contacts of other accounts
    EXPECT_EQ(40, read + skipped) << text;
    EXPECT_NE(text.find("Samples:"), std::string::npos) << text;
    EXPECT_NE(text.find("\nWrites:             all written and read back as written\n"), std::string::npos)
        << text;
    // Received pictures went to a scratch folder of the demo, not to the user's.
    EXPECT_NE(text.find("Pictures received:"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(home.path() + "/Vexo"));
    EXPECT_EQ(200, events) << text;
    EXPECT_GT(allDay, 0) << text;
    EXPECT_GT(recurring, 50) << text;
    // At least the stand-up, the gym and the sprint review of every seeded phone.
    EXPECT_GE(withExceptions, 3) << text;
    EXPECT_GE(moved, 3) << text;
    EXPECT_GE(cancelled, 4) << text;
}

} // namespace
