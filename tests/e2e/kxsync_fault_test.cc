// The fault matrix through kxsync and kxphone-sim: for each fault and command, kxsync ends
// non-zero within a stated bound, its last line names the cause, stderr shows the retries while
// the driver retries, what the host holds (a backup folder, the handset's store) is as before,
// and the same command succeeds once the fault is gone.
//
// Bounds: the driver retries a failed request for about two minutes at real timing, so rows
// whose fault the driver retries end by --timeout 1 (bound 8 s: one second, the stop reaching
// the driver within a select step, the session's close); a stall beyond the driver's 30 s
// time-out ends its first attempt and is then cut by --timeout 33 (bound 45 s); answers that are
// unusable are not retried (bound 8 s); a dropped session confirmation costs one bridge reset
// (two 5 s waits, bound 20 s) and the read still succeeds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/paths.h"
#include "support/scripted_peer.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

namespace fs = std::filesystem;

std::string LastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

TEST(KxsyncFaults, EveryFaultIsNamedAndTheNextRunSucceeds) {
    const kxtest::SimOptions options{.contacts = 6, .events = 4};
    auto sim = std::make_unique<kxtest::SimFixture>(options);
    ASSERT_TRUE(sim->ok()) << sim->error();
    kxtest::TempDir home("kx_fault_matrix");
    const std::string held = home.path() + "/held", restore = home.path() + "/restore";
    fs::create_directories(held);
    fs::create_directories(restore);
    {
        std::ofstream(home.path() + "/write.jsonl")
            << "{\"op\":\"create\",\"fields\":{\"givenName\":[\"Fay\"]}}\n";
    }

    // The driver takes addresses only: kxsync resolves the name for it.
    auto kxsync = [&](int port, const std::string& arguments, int timeout,
                      const char* address = "127.0.0.1") {
        return kxtest::RunCommand(
            "cd " + home.path() + " && XDG_DATA_HOME=" + home.path() + " KXPHONE_ADB=/nonexistent TZ=UTC '" +
            kxtest::BinDir() + "/kxsync' --no-progress --address " + address + " --port " +
            std::to_string(port) + (timeout ? " --timeout " + std::to_string(timeout) : std::string()) + " " +
            arguments + " 2>&1 >/dev/null");
    };
    ASSERT_EQ(0, kxsync(sim->port(), "backup contacts restore", 0).exitCode);

    const char* kDropped = "the connection was dropped before the whole answer arrived";
    const char* kNotJson = "the handset's answer is not JSON";
    const char* kStatus = "the handset answered with status -4";
    const char* kSilent = "no answer from the handset at 127.0.0.1:";
    // A row holds for each of its commands, run in home: backups go to held, restores come from restore.
    const struct Row {
        std::string fault; // a fault rule until cleared; "none listening", "killed" stand for themselves
        std::string commands;
        std::string cause; // in kxsync's last line
        int exit;
        bool retries; // stderr shows the first failed attempt
        int timeout, bound;
    } rows[] = {
        {"none listening", "contacts read,calendar read,info", "nothing is listening on 127.0.0.1:", 1, true,
         1, 8},
        {"killed", "contacts read", "", 1, true, 3, 10},
        {"refuse:-1",
         "contacts read,calendar read,info,contacts write write.jsonl,sync contacts,backup contacts held,"
         "restore contacts restore --mode add-missing",
         kDropped, 1, true, 1, 8},
        {"drop:-1", "contacts read", kDropped, 1, true, 1, 8},
        {"close_mid_body:-1", "contacts read,calendar read", kDropped, 1, true, 1, 8},
        {"stall:60:-1", "contacts read", kSilent, 1, true, 33, 45},
        {"stall:5:-1", "calendar read,info", kSilent, 1, false, 1, 8},
        {"undecipherable:-1", "contacts read,calendar read,info",
         "the handset's answer could not be deciphered", 1, false, 0, 8},
        {"non_json:-1", "contacts read,calendar read,sync contacts,backup contacts held", kNotJson, 1, false,
         0, 8},
        {"status:-4:-1",
         "contacts read,calendar read,contacts write write.jsonl,sync contacts,"
         "restore contacts restore --mode add-missing",
         kStatus, 1, false, 0, 8},
        {"drop:/session_ctrl:1", "contacts read",
         "the connection was dropped while the session was being confirmed", 0, true, 0, 20},
    };
    double slowest = 0;
    for (const Row& row : rows) {
        std::istringstream names(row.commands);
        for (std::string command; std::getline(names, command, ',');) {
            SCOPED_TRACE(row.fault + " / " + command);
            int port = sim->port();
            std::thread killer;
            if (row.fault == "none listening") {
                port = kxtest::UnusedPort();
            } else if (row.fault == "killed") {
                ASSERT_TRUE(sim->AddFault("stall:30:/contact/do/read:-1"));
                killer = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(800));
                    sim.reset(); // mid-read: the id list was answered, the batch is waiting
                });
            } else {
                ASSERT_TRUE(sim->AddFault(row.fault));
            }
            const std::string heldBefore = kxtest::FileBytes(held + "/people.dat");
            const int64_t contactsBefore = row.fault == "killed" ? 0 : sim->store().Counts().contacts;

            auto start = std::chrono::steady_clock::now();
            kxtest::CommandRun run = kxsync(port, command, row.timeout);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            slowest = std::max(slowest, seconds);
            if (killer.joinable())
                killer.join();

            EXPECT_EQ(row.exit, run.exitCode) << run.output;
            EXPECT_LT(seconds, row.bound) << run.output;
            if (row.exit != 0) {
                EXPECT_NE(std::string::npos, LastLine(run.output).find(row.cause)) << run.output;
            }
            EXPECT_EQ(row.retries, run.output.find("attempt 1 of 6 failed: ") != std::string::npos)
                << run.output;
            if (row.retries) {
                EXPECT_NE(std::string::npos, run.output.find("failed: " + row.cause)) << run.output;
            }
            EXPECT_EQ(heldBefore, kxtest::FileBytes(held + "/people.dat"));
            if (!sim) {
                sim = std::make_unique<kxtest::SimFixture>(options);
                ASSERT_TRUE(sim->ok()) << sim->error();
            } else {
                // Status and refused connections never reach the store.
                if (row.fault.rfind("status", 0) == 0 || row.fault.rfind("refuse", 0) == 0) {
                    EXPECT_EQ(contactsBefore, sim->store().Counts().contacts);
                }
                sim->faults().Clear();
            }
            kxtest::CommandRun next = kxsync(sim->port(), command, 0, "localhost");
            EXPECT_EQ(0, next.exitCode) << "after the fault\n" << next.output;
        }
    }
    RecordProperty("slowest_seconds", std::to_string(slowest));
}

} // namespace
