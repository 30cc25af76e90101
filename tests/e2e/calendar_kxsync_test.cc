// kxsync as a host: "calendar read --json" against an in-process kxphone-sim prints one JSON
// object per event, the merged exception lists included.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <json/json.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/paths.h"
#include "support/sim_fixture.h"

namespace {

std::string RunCommand(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    *status = pclose(p);
    return out;
}

TEST(CalendarKxsync, ReadPrintsEveryEventAsJson) {
    kxtest::SimFixture sim({.events = 25});
    ASSERT_TRUE(sim.ok()) << sim.error();
    int status = -1;
    std::string out =
        RunCommand("TZ=UTC " + kxtest::BinDir() + "/kxsync --port " + std::to_string(sim.port()) +
                       " --no-progress --json calendar read 2>/dev/null",
                   &status);
    EXPECT_EQ(0, status);
    std::map<std::string, Json::Value> byTitle;
    size_t lines = 0;
    for (size_t begin = 0, end; (end = out.find('\n', begin)) != std::string::npos; begin = end + 1) {
        Json::Value v;
        ASSERT_TRUE(Json::Reader().parse(out.substr(begin, end - begin), v))
            << out.substr(begin, end - begin);
        byTitle[v["title"].asString()] = v;
        ++lines;
    }
    EXPECT_EQ(25u, lines) << "stdout holds the events only";
    const Json::Value& standUp = byTitle["Stand-up"];
    EXPECT_EQ("2026-01-05 09:30:00", standUp["start"].asString());
    EXPECT_EQ("daily", standUp["repeat"]["kind"].asString());
    EXPECT_NE(std::string::npos, standUp["exceptions"].asString().find("<deletion time=\"2026/01/10\"/>"));
    EXPECT_EQ("weekly", byTitle["Gym"]["repeat"]["kind"].asString());
    EXPECT_EQ("MO,WE,FR", byTitle["Gym"]["repeat"]["days"].asString());
    EXPECT_TRUE(byTitle["New Year's Day"]["allDay"].asBool());

    std::string usage = RunCommand(kxtest::BinDir() + "/kxsync calendar write 2>&1", &status);
    EXPECT_EQ(2, WEXITSTATUS(status));
    EXPECT_NE(std::string::npos, usage.find("usage: kxsync [options] calendar read [--json]"));
}

TEST(CalendarKxsync, DemoReportsEventsRecurrencesAndExceptions) {
    char home[] = "/tmp/kxcal_demo_homeXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(home));
    int status = -1;
    std::string out = RunCommand("HOME=" + std::string(home) + " XDG_DATA_HOME= TZ=UTC " + kxtest::BinDir() +
                                     "/kxsync --no-progress demo 5 1 2>&1",
                                 &status);
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
    int events = -1, allDay = -1, recurring = -1, withExceptions = -1, moved = -1, cancelled = -1;
    for (size_t begin = 0, end; (end = out.find('\n', begin)) != std::string::npos; begin = end + 1) {
        std::string line = out.substr(begin, end - begin);
        std::sscanf(line.c_str(), "Events read: %d (%d all-day)", &events, &allDay);
        std::sscanf(line.c_str(), "Recurring events: %d, %d with exceptions", &recurring, &withExceptions);
        std::sscanf(line.c_str(), "Exceptions: %d moved or changed instances, %d cancelled", &moved,
                    &cancelled);
    }
    EXPECT_EQ(200, events) << out;
    EXPECT_GT(allDay, 0) << out;
    EXPECT_GT(recurring, 50) << out;
    // At least the stand-up, the gym and the sprint review of every seeded phone.
    EXPECT_GE(withExceptions, 3) << out;
    EXPECT_GE(moved, 3) << out;
    EXPECT_GE(cancelled, 4) << out;
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
}

} // namespace
