// kxphone-sim as a person runs it: handset-side commands on a store file that outlives each run, and
// the executable serving that file until it is interrupted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        // A free port: the default one (kxsync's, 8182) may be taken by a simulator someone runs.
        // The seed options do not seed a store that holds data.
        execl(exe.c_str(), exe.c_str(), "--db", db.c_str(), "--seed-contacts", "4", "--port", "0", "--quiet",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    ASSERT_EQ(line.compare(0, 23, "listening on 127.0.0.1:"), 0) << line;
    const int port = std::atoi(line.c_str() + 23);
    EXPECT_EQ(Call(port, "GET", "/contact/do/changelog")["objects"].size(), 4u);
    Json::Value doc = simtest::Objects(Json::Value(Json::objectValue));
    EXPECT_EQ(Call(port, "PUT", "/contact/do/create", &doc)["status"].asInt(), 0);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
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
        int status;
        std::string says; // on stderr
    } cases[] = {
        {"contact add '{\"givenName\":\"Ada\"}'", 2,
         "kxphone-sim: contact add: unknown key \"givenName\" (it takes \"account_name\""},
        {"contacts add '{\"__data\":[{\"mimetype\":\"vnd.android.cursor.item/name\",\"given\":\"Ada\"}]}'", 2,
         "contact add: unknown key \"given\" in a \"__data\" row"},
        {"contact add '{\"__data\":[{\"data1\":\"Ada\"}]}'", 2, "a \"__data\" row needs \"mimetype\""},
        {"contact add '{\"__data\":{}}'", 2, "\"__data\" must be a list of rows"},
        {"contact add '{\"starred\":[1]}'", 2, "\"starred\" must be a text, not a list"},
        {"contact modify '{\"starred\":\"1\"}'", 2, "contact modify needs \"__id\""},
        {"contact modify '{\"__id\":\"x\"}'", 2,
         "needs \"__id\", the contact's id as a positive whole number, not \"x\""},
        {"contact modify '{\"__id\":\"1\",\"account_name\":\"x\"}'", 2, "unknown key \"account_name\""},
        {"contact delete '{\"__id\":\"1\",\"starred\":\"1\"}'", 2, "(it takes only \"__id\")"},
        {"calendar add '{\"title\":\"T\",\"start\":\"2026-12-10 10:00:00\"}'", 2,
         "calendar add: unknown key \"start\" (it takes the event columns \"calendar_id\""},
        {"calendar add '{\"title\":\"T\",\"dtstart\":\"2026-12-10 10:00:00\"}'", 2,
         "\"dtstart\" must be milliseconds since 1970-01-01 00:00 UTC (\"1796896800000\" is 2026-12-10 "
         "10:00:00 UTC)"},
        {"calendar add '{\"allDay\":\"yes\"}'", 2, "\"allDay\" must be a whole number, not \"yes\""},
        {"calendar add '{\"__data\":[{\"minutes\":\"soon\"}]}'", 2, "a reminder needs \"minutes\""},
        {"calendar delete '{}'", 2, "calendar delete needs \"__id\", the event's id"},
        {"contact add '{'", 2, "kxphone-sim: not JSON (Line 1, Column 2: Missing"},
        {"contact add '[1]'", 2, "contact add needs a JSON object"},
        {"contact add", 2,
         "contact add needs a JSON object\nusage: kxphone-sim [--db FILE] contact add|modify|delete JSON"},
        {"contact", 2, "contact needs add, modify or delete\n"},
        {"calendar move '{}'", 2, "calendar: move is not add, modify or delete"},
        {"contact add '{}' extra", 2, "contact: unexpected argument extra"},
        {"changelog", 2, "changelog needs contact or calendar"},
        {"changelog events", 2, "changelog: events is not contact or calendar"},
        {"tracking maybe", 2, "tracking: maybe is not on or off"},
        {"frobnicate", 2, "unknown command frobnicate (state, contact, calendar"},
        {"--port 70000", 2, "--port takes 0 to 65535, not 70000\nusage: kxphone-sim [--db FILE] [--port N]"},
        {"--bogus", 2, "unknown option --bogus\nusage:"},
        {"--seed-contacts", 2, "--seed-contacts needs a value"},
        // The examples of --help and the README, and both spellings.
        {"contact add "
         "'{\"__data\":[{\"mimetype\":\"vnd.android.cursor.item/"
         "name\",\"data2\":\"Ada\",\"data3\":\"Lovelace\"},"
         "{\"mimetype\":\"vnd.android.cursor.item/phone_v2\",\"data1\":\"+44 20 7946 "
         "0000\",\"data2\":\"2\"}]}'",
         0, ""},
        {"calendar add '{\"calendar_id\":\"1\",\"title\":\"Review\",\"dtstart\":\"1796896800000\","
         "\"dtend\":\"1796900400000\",\"eventTimezone\":\"UTC\"}'",
         0, ""},
        {"contacts modify '{\"__id\":\"1\",\"starred\":\"1\"}'", 0, ""},
        {"changelog contacts", 0, ""},
        {"calendar delete '{\"__id\":\"1\"}'", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string err = dir.path() + "/stderr";
        kxtest::CommandRun r = kxtest::RunCommand(exe + " --db " + db + " " + c.arguments + " 2>" + err);
        std::ifstream in(err);
        std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(c.status, r.exitCode) << said;
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
        if (c.status != 0) {
            EXPECT_EQ("", r.output);
            EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2) << said; // no thirty lines of help
        }
    }
    kxtest::CommandRun state = kxtest::RunCommand(exe + " --db " + db + " state");
    EXPECT_NE(std::string::npos, state.output.find("\"contacts\":1,")) << state.output; // nothing else stored
    EXPECT_NE(std::string::npos, state.output.find("\"events\":0,")) << state.output;
}

} // namespace
