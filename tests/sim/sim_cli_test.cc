// kxphone-sim as a person runs it: a store file that outlives the server, handset-side commands on
// it, and the executable serving until it is interrupted.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "sim_test_util.h"
#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using simtest::Call;

TEST(SimStore, AFileStoreKeepsItsDataAcrossARestart) {
    kxtest::TempDir dir("kx_sim_store");
    kxtest::SimOptions o;
    o.contacts = 3;
    o.db = dir.path() + "/persist.db";
    std::string created;
    {
        kxtest::SimFixture sim(o);
        ASSERT_TRUE(sim.ok()) << sim.error();
        Json::Value doc = simtest::Objects(Json::Value(Json::objectValue));
        created = Call(sim.port(), "PUT", "/contact/do/create", &doc)["objects"][0]["__id"].asString();
        ASSERT_TRUE(sim.DeleteContact("1"));
    }
    kxtest::SimFixture sim(o); // the seed options do not seed a store that holds data
    ASSERT_TRUE(sim.ok()) << sim.error();
    EXPECT_EQ(simtest::Compact(Call(sim.port(), "GET", "/contact/do/changelog")["objects"]),
              "[{\"__id\":\"2\"},{\"__id\":\"3\"},{\"__id\":\"" + created + "\"}]");
}

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
    EXPECT_EQ(run(" --port 70000 2>/dev/null").exitCode, 2);
    EXPECT_EQ(run(" frobnicate 2>/dev/null").exitCode, 2);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(exe.c_str(), exe.c_str(), "--db", db.c_str(), "--quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    ASSERT_EQ(line.compare(0, 23, "listening on 127.0.0.1:"), 0) << line;
    EXPECT_EQ(Call(std::atoi(line.c_str() + 23), "GET", "/contact/do/changelog")["objects"].size(), 4u);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
