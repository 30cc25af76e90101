// kxsync as a newcomer runs it: a real host program loading the built driver by path.
#include <gtest/gtest.h>

#include <string>

#include "support/paths.h"
#include "support/test_util.h"

namespace {

kxtest::CommandRun Kxsync(const std::string& arguments) {
    return kxtest::RunCommand("'" + kxtest::BinDir() + "/kxsync' " + arguments + " 2>&1");
}

TEST(Kxsync, HelloRunsAShortHostSession) {
    kxtest::CommandRun run = Kxsync("hello --no-progress --serial SN-1 --port 19001");
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
    kxtest::CommandRun run = Kxsync("--trace - hello --no-progress");
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
        {"--help", 0, "Usage: kxsync"},
    };
    for (const Case& c : cases) {
        kxtest::CommandRun run = Kxsync(c.arguments);
        EXPECT_EQ(run.exitCode, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

} // namespace
