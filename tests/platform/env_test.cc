// The POSIX Env against the real system: what the driver relies on from each service.
#include "platform/env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "platform/oledate.h"
#include "support/paths.h"
#include "support/scripted_peer.h"
#include "support/test_util.h"

extern char** environ;

namespace {

platform::Env* env() {
    return platform::Env::Default();
}

using kxtest::ScopedEnvVar;

TEST(PosixEnv, ClockAndThreadBasics) {
    EXPECT_EQ(env(), platform::Env::Default());
    uint32_t t0 = env()->TickCount();
    env()->SleepMillis(20);
    uint32_t elapsed = env()->TickCount() - t0; // wraps like a 32-bit tick count
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 60000u);

    time_t now = ::time(nullptr);
    platform::CivilTime utc = env()->UtcNow();
    const int64_t seconds = platform::DaysFromCivil(utc.year, utc.month, utc.day) * 86400 + utc.hour * 3600 +
                            utc.minute * 60 + utc.second;
    EXPECT_LE(std::llabs(static_cast<long long>(seconds - now)), 2);
    EXPECT_GE(utc.millisecond, 0);
    EXPECT_LE(utc.millisecond, 999);
    EXPECT_EQ(env()->ThreadId(), static_cast<uint32_t>(::getpid()))
        << "the main thread's id is the process id";

    errno = ENOSPC;
    EXPECT_EQ(env()->LastError(), ENOSPC);
}

TEST(PosixEnv, UuidsAreLowerCaseAndDistinct) {
    std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string id = env()->NewUuid();
        EXPECT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(PosixEnv, OwnModuleAndLoading) {
    std::string own = env()->OwnModulePath();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own.front(), '/') << own;
    EXPECT_NE(own.find("tests_platform"), std::string::npos) << "the code is linked into the test program";

    void* module = env()->OpenModule(kxtest::BinDir() + "/AuxSyncModule.so");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(env()->ModuleSymbol(module, "Read"), nullptr);
    EXPECT_NE(env()->ModuleSymbol(module, "Stop"), nullptr);
    EXPECT_EQ(env()->ModuleSymbol(module, "NoSuchEntry"), nullptr);
    env()->CloseModule(module);
    EXPECT_EQ(env()->OpenModule(kxtest::BinDir() + "/NoSuchModule.so"), nullptr);
}

TEST(PosixEnv, ProcessesAreListedByNameAndEndedByKill) {
    std::vector<platform::ProcessEntry> processes;
    ASSERT_TRUE(env()->ListProcesses(&processes));
    auto listed = [&](int pid, const std::string& name) {
        for (const platform::ProcessEntry& p : processes)
            if (p.pid == pid && p.name == name)
                return true;
        return false;
    };
    EXPECT_TRUE(listed(::getpid(), "tests_platform"));

    char program[] = "/bin/sleep", seconds[] = "30";
    char* argv[] = {program, seconds, nullptr};
    pid_t child = -1;
    ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 500 && !listed(child, "sleep"); ++i) { // until /proc shows the new name
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        env()->ListProcesses(&processes);
    }
    EXPECT_TRUE(listed(child, "sleep"));
    EXPECT_TRUE(env()->TerminateProcess(child));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_FALSE(env()->TerminateProcess(child)) << "no such process any more";
}

TEST(PosixEnv, AppDataDir) {
    {
        ScopedEnvVar xdg("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(env()->AppDataDir(), "/srv/data");
    }
    ScopedEnvVar xdg("XDG_DATA_HOME", nullptr);
    ScopedEnvVar home("HOME", "/home/kx");
    EXPECT_EQ(env()->AppDataDir(), "/home/kx/.local/share");
}

TEST(PosixEnv, FirstWeekdayIsSundayForTheCLocaleAndWhenUnknown) {
    {
        ScopedEnvVar all("LC_ALL", "C");
        EXPECT_EQ(env()->FirstWeekday(), 0);
    }
    ScopedEnvVar all("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(env()->FirstWeekday(), 0);
}

auto Fields(const platform::CivilTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

TEST(PosixEnv, ZoneConversions) {
    ScopedEnvVar tz("TZ", "Europe/Berlin");
    struct Case {
        platform::CivilTime local;
        platform::CivilTime utc;
    } cases[] = {
        {{2026, 7, 1, 12, 0, 0, 0}, {2026, 7, 1, 10, 0, 0, 0}},    // summer time
        {{2026, 1, 15, 0, 30, 0, 0}, {2026, 1, 14, 23, 30, 0, 0}}, // standard time
        {{1970, 1, 1, 0, 59, 59, 0}, {1969, 12, 31, 23, 59, 59, 0}},
    };
    for (const Case& c : cases) {
        platform::CivilTime utc, local;
        ASSERT_TRUE(env()->LocalToUtc(c.local, &utc));
        EXPECT_EQ(Fields(utc), Fields(c.utc));
        ASSERT_TRUE(env()->UtcToLocal(c.utc, &local));
        EXPECT_EQ(Fields(local), Fields(c.local));
    }
    EXPECT_EQ(env()->ZoneBiasMinutes(), -60);
    ScopedEnvVar ny("TZ", "America/New_York");
    EXPECT_EQ(env()->ZoneBiasMinutes(), 300);
}

TEST(PosixEnv, LoopbackSocketRoundTrip) {
    int port = 0, listener = kxtest::LoopbackListener(&port);
    ASSERT_GE(listener, 0);

    int fd = env()->SocketOpen();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(env()->SocketSetLinger(fd, true, 0), 0);
    ASSERT_EQ(env()->SocketConnect(fd, "127.0.0.1", port), 0);
    int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    EXPECT_EQ(env()->SocketWaitReadable(fd, 0), 0) << "nothing sent yet";
    EXPECT_EQ(env()->SocketSendWithin(fd, "ping", 4, 1000), 4);
    char buffer[16] = {};
    EXPECT_EQ(::recv(peer, buffer, 4, MSG_WAITALL), 4);
    EXPECT_EQ(::send(peer, "pong!", 5, 0), 5);
    EXPECT_EQ(env()->SocketWaitReadable(fd, 5000), 1);
    long pending = 0;
    int error = -1;
    EXPECT_EQ(env()->SocketPendingBytes(fd, &pending), 0);
    EXPECT_EQ(pending, 5);
    EXPECT_EQ(env()->SocketPendingError(fd, &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(env()->SocketRecv(fd, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "pong!");
    ::close(peer);
    EXPECT_EQ(env()->SocketWaitReadable(fd, 5000), 1);
    EXPECT_EQ(env()->SocketRecv(fd, buffer, sizeof buffer), 0) << "end of stream";
    EXPECT_EQ(env()->SocketClose(fd), 0);

    ::close(listener);
    int again = env()->SocketOpen();
    EXPECT_EQ(env()->SocketConnect(again, "127.0.0.1", port), -1);
    EXPECT_EQ(env()->LastError(), ECONNREFUSED);
    EXPECT_EQ(env()->SocketConnect(again, "not-an-address", port), -1);
    env()->SocketClose(again);
}

} // namespace
