// "kxsync info" as a host would run it: the real plug-in loaded by path, against kxphone-sim.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/paths.h"
#include "support/sim_fixture.h"

namespace {

TEST(KxsyncInfo, PrintsStatusPropertiesAndProfiles) {
    std::string kxsync = kxtest::BinDir() + "/kxsync";
    if (::access(kxsync.c_str(), X_OK) != 0)
        GTEST_SKIP() << "kxsync is not built";
    kxtest::SimFixture sim(kxtest::SimOptions{0, 0, 1, ":memory:", 1326758400000, true});
    ASSERT_TRUE(sim.ok()) << sim.error();

    std::string command = kxsync + " --port " + std::to_string(sim.port()) + " info 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, n);
    int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;

    for (const char* line :
         {"Phone status: 0 (answering)\n", "  SDtotal: 8589934592\n",
          "  Phone: 54 fields (54 described), 4 entries, groups\n",
          "  reminders (minutes): 5 15 30 60 90 120\n",
          "  pictures: Pic Download (kind 3, 0 files, 0 subfolders)\n", "    Sub Box2: 0 messages\n"})
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    EXPECT_EQ(sim.Requests("/info/abc").size(), 1u);
}

} // namespace
