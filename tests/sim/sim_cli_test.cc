// kxphone-sim as a person runs it: handset-side commands on a store file that outlives each run, and
// the executable serving that file until it is interrupted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "sim_test_util.h"
#include "support/paths.h"
#include "support/test_util.h"

namespace {

using simtest::Call;

TEST(SimExecutable, ServesUntilInterruptedAndRunsCommandsOnAStoreFile) {
    kxtest::TempDir dir("kx_sim_cli");
    const std::string exe = kxtest::BinDir() + "/kxphone-sim", db = dir.path() + "/cli.db";
    auto run = [&](const std::string& arguments) {
        return kxtest::RunCommand(exe + " --db " + db + arguments);
    };
    kxtest::CommandRun r = run(" --seed-contacts 4 contact modify '{\"__id\":\"2\",\"starred\":\"1\"}'");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "{\"objects\":[{\"__id\":\"2\",\"count\":\"1\"}],\"ok\":true}\n");
    EXPECT_EQ(
        run(" changelog contact").output,
        "{\"objects\":[{\"__id\":\"2\",\"_add\":\"0\",\"_delete\":\"0\",\"_modify\":\"1\"}],\"ok\":true}\n");

    // A free port: the default one (kxsync's, 8182) may be taken by a simulator someone runs. The
    // seed options do not seed a store that holds data. The shell says its id, then becomes the server.
    FILE* out =
        popen(("echo $$; exec " + exe + " --db " + db + " --seed-contacts 4 --port 0 --quiet").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char pid[32] = "", line[128] = "";
    ASSERT_TRUE(fgets(pid, sizeof pid, out) && fgets(line, sizeof line, out));
    ASSERT_EQ(std::string(line).compare(0, 23, "listening on 127.0.0.1:"), 0) << line;
    const int port = std::atoi(line + 23);
    EXPECT_EQ(Call(port, "GET", "/contact/do/changelog")["objects"].size(), 4u);
    Json::Value doc = kxtest::ParseJson(R"({"objects":[{}]})");
    EXPECT_EQ(Call(port, "PUT", "/contact/do/create", &doc)["status"].asInt(), 0);
    kill(std::atoi(pid), SIGTERM);
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(run(" state").output.find("\"contacts\":5,"), std::string::npos); // the create is in the file
}

// What a person gets wrong is refused before anything is stored: exit status 2, the key or argument
// named, a one-line usage (the full text only with --help); "contact" and "contacts" alike.
TEST(SimExecutable, RefusesWhatItCannotTakeAndSaysWhy) {
    kxtest::TempDir dir("kx_sim_refusals");
    const std::string exe = kxtest::BinDir() + "/kxphone-sim", db = dir.path() + "/cli.db";
    const struct {
        std::string arguments;
        std::string says; // on stderr; nothing for the commands taken (exit status 0, else 2)
    } cases[] = {
        {R"(contact add '{"givenName":"Ada"}')",
         R"(kxphone-sim: contact add: unknown key "givenName" (it takes "account_name")"},
        {R"(contacts add '{"__data":[{"mimetype":"vnd.android.cursor.item/name","given":"Ada"}]}')",
         R"(contact add: unknown key "given" in a "__data" row)"},
        {R"(contact add '{"__data":[{"data1":"Ada"}]}')", R"(a "__data" row needs "mimetype")"},
        {R"(contact add '{"__data":{}}')", R"("__data" must be a list of rows)"},
        {R"(contact add '{"starred":[1]}')", R"("starred" must be a text, not a list)"},
        {R"(contact modify '{"starred":"1"}')", R"(contact modify needs "__id")"},
        {R"(contact modify '{"__id":"x"}')",
         R"(needs "__id", the contact's id as a positive whole number, not "x")"},
        {R"(contact modify '{"__id":"1","account_name":"x"}')", R"(unknown key "account_name")"},
        {R"(contact delete '{"__id":"1","starred":"1"}')", R"((it takes only "__id"))"},
        {R"(calendar add '{"title":"T","start":"2026-12-10 10:00:00"}')",
         R"(calendar add: unknown key "start" (it takes the event columns "calendar_id")"},
        {R"(calendar add '{"title":"T","dtstart":"2026-12-10 10:00:00"}')",
         R"("dtstart" must be milliseconds since 1970-01-01 00:00 UTC ("1796896800000" is 2026-12-10 )"
         "10:00:00 UTC)"},
        {R"(calendar add '{"allDay":"yes"}')", R"("allDay" must be a whole number, not "yes")"},
        {R"(calendar add '{"__data":[{"minutes":"soon"}]}')", R"(a reminder needs "minutes")"},
        {"calendar delete '{}'", R"(calendar delete needs "__id", the event's id)"},
        {"contact add '{'", "kxphone-sim: not JSON (Line 1, Column 2: Missing"},
        {"contact add '[1]'", "contact add needs a JSON object"},
        {"contact add",
         "contact add needs a JSON object\nusage: kxphone-sim [--db FILE] contact add|modify|delete JSON"},
        {"contact", "contact needs add, modify or delete\n"},
        {"calendar move '{}'", "calendar: move is not add, modify or delete"},
        {"contact add '{}' extra", "contact: unexpected argument extra"},
        {"changelog", "changelog needs contact or calendar"},
        {"changelog events", "changelog: events is not contact or calendar"},
        {"tracking maybe", "tracking: maybe is not on or off"},
        {"frobnicate", "unknown command frobnicate (state, contact, calendar"},
        {"--port 70000", "--port takes 0 to 65535, not 70000\nusage: kxphone-sim [--db FILE] [--port N]"},
        {"--bogus", "unknown option --bogus\nusage:"},
        {"--seed-contacts", "--seed-contacts needs a value"},
        // The examples of --help and the README, and both spellings.
        {R"(contact add '{"__data":[{"mimetype":"vnd.android.cursor.item/name","data2":"Ada",)"
         R"("data3":"Lovelace"},{"mimetype":"vnd.android.cursor.item/phone_v2","data1":"+44 20 7946 0000",)"
         R"("data2":"2"}]}')",
         ""},
        {R"(calendar add '{"calendar_id":"1","title":"Review","dtstart":"1796896800000",)"
         R"("dtend":"1796900400000","eventTimezone":"UTC"}')",
         ""},
        {R"(contacts modify '{"__id":"1","starred":"1"}')", ""},
        {"changelog contacts", ""},
        {R"(calendar delete '{"__id":"1"}')", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string err = dir.path() + "/stderr";
        kxtest::CommandRun r = kxtest::RunCommand(exe + " --db " + db + " " + c.arguments + " 2>" + err);
        std::ifstream in(err);
        std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(c.says.empty() ? 0 : 2, r.exitCode) << said;
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        if (!c.says.empty()) {
            EXPECT_EQ("", r.output);
            EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2) << said; // no thirty lines of help
        }
    }
    kxtest::CommandRun state = kxtest::RunCommand(exe + " --db " + db + " state");
    EXPECT_NE(std::string::npos, state.output.find("\"contacts\":1,")) << state.output; // nothing else stored
    EXPECT_NE(std::string::npos, state.output.find("\"events\":0,")) << state.output;
}

} // namespace
