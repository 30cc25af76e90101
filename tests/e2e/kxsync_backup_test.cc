// kxsync backup and restore against kxphone-sim: the dry run writes nothing, a replace that would
// empty the handset needs --yes, and a replace backs the handset up beside the folder first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

TEST(KxsyncBackup, DryRunGuardAndSafetyBackup) {
    kxtest::SimFixture sim({.contacts = 8});
    ASSERT_TRUE(sim.ok()) << sim.error();
    kxtest::TempDir home("kx_kxsync_backup");
    auto run = [&](const std::string& arguments) {
        return kxtest::RunCommand("XDG_DATA_HOME=" + home.path() + " '" + kxtest::BinDir() +
                                  "/kxsync' --no-progress --port " + std::to_string(sim.port()) + " " +
                                  arguments + " 2>&1");
    };
    const std::string full = home.path() + "/full", empty = home.path() + "/empty";
    std::filesystem::create_directories(full);
    std::filesystem::create_directories(empty);
    ASSERT_EQ(0, run("backup contacts " + full).exitCode);

    // A dry run tells and writes nothing.
    sim.journal().Clear();
    kxtest::CommandRun dry = run("restore contacts " + full + " --mode add-all --dry-run");
    EXPECT_EQ(0, dry.exitCode) << dry.output;
    EXPECT_NE(std::string::npos, dry.output.find("would delete 0 contacts\nwould create ")) << dry.output;
    EXPECT_NE(std::string::npos, dry.output.find("dry run: nothing written"));
    EXPECT_TRUE(sim.Requests("/contact/do/create").empty());

    // Replacing with an empty backup would leave nothing: it needs --yes.
    { std::ofstream(empty + "/people.dat", std::ios::binary).write("\0\0\0\0", 4); }
    kxtest::CommandRun refused = run("restore contacts " + empty + " --mode replace");
    EXPECT_EQ(2, refused.exitCode) << refused.output;
    EXPECT_NE(std::string::npos, refused.output.find("--yes")) << refused.output;
    EXPECT_TRUE(sim.Requests("/contact/do/delete").empty());

    kxtest::CommandRun guarded = run("restore contacts " + full + " --mode replace");
    EXPECT_EQ(0, guarded.exitCode) << guarded.output; // full backup: the handset keeps most records
    EXPECT_NE(std::string::npos,
              guarded.output.find("handset backed up first into " + full + "-before-replace-"))
        << guarded.output;
    size_t folders = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.path()))
        folders += e.path().filename().string().rfind("full-before-replace-", 0) == 0 &&
                   std::filesystem::exists(e.path() / "people.dat");
    EXPECT_EQ(1u, folders);
}

} // namespace
