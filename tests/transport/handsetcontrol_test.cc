// HandsetControl against the fake bridge: argument vectors, exit codes, time-outs, readiness.
#include <gtest/gtest.h>

#include <handsetcontrol.h>

#include <chrono>
#include <string>

#include "support/fake_adb.h"

namespace {

int32_t RunBridge(const std::u16string& command, int32_t timeoutMs = 5000) {
    return KX_RunAdbCmd(command.c_str(), static_cast<int32_t>(command.size()), nullptr, 0, timeoutMs);
}

TEST(RunAdbCmd, SplitsOnBlanksAndNeverUsesAShell) {
    kxtest::FakeAdb adb;
    EXPECT_EQ(RunBridge(u"-s  SER123 forward tcp:5555   tcp:8182 "), 0);
    EXPECT_EQ(RunBridge(u"-s a;touch${IFS}/tmp/kx_no_shell shell 'date'"), 0);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>({"<-s><SER123><forward><tcp:5555><tcp:8182>",
                                                     "<-s><a;touch${IFS}/tmp/kx_no_shell><shell><'date'>"}));
    // Only the given length counts.
    std::u16string longer = u"-s X shell date trailing";
    EXPECT_EQ(KX_RunAdbCmd(longer.c_str(), 15, nullptr, 0, 5000), 0);
    EXPECT_EQ(adb.Calls().back(), "<-s><X><shell><date>");
}

TEST(RunAdbCmd, OnlyAZeroExitIsSuccess) {
    kxtest::FakeAdb adb;
    adb.QueueExitCodes({3, 0});
    EXPECT_EQ(RunBridge(u"devices"), 3);
    EXPECT_EQ(RunBridge(u"devices"), 0);
    adb.SetDefaultExit(1);
    EXPECT_EQ(RunBridge(u"devices"), 1);
    EXPECT_EQ(RunBridge(u"   "), -4);
    EXPECT_EQ(KX_RunAdbCmd(nullptr, 3, nullptr, 0, 5000), -4);
    EXPECT_EQ(adb.Calls().size(), 3u);
}

TEST(RunAdbCmd, ABridgeThatHangsIsKilledAtTheTimeOut) {
    kxtest::FakeAdb adb;
    adb.SetSleepSeconds(20);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunBridge(u"-s S shell date", 300), -2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(adb.Calls().size(), 1u);
}

TEST(CheckPhoneReady, AttachedHandsetGetsItsForwardRecreated) {
    kxtest::FakeAdb adb;
    EXPECT_EQ(KX_CheckPhoneReady("SER123", 5555, 8182, 0, 0, 5000), 0);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>(
                               {"<-s><SER123><get-state>", "<-s><SER123><forward><tcp:5555><tcp:8182>"}));
}

TEST(CheckPhoneReady, NoForwardUnlessTheHandsetIsADevice) {
    kxtest::FakeAdb adb;
    adb.SetState("offline");
    EXPECT_EQ(KX_CheckPhoneReady("SER123", 5555, 8182, 0, 0, 5000), -5);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>({"<-s><SER123><get-state>"}));

    kxtest::FakeAdb failing;
    failing.QueueExitCodes({1});
    EXPECT_EQ(KX_CheckPhoneReady("SER123", 5555, 8182, 0, 0, 5000), 1);
    EXPECT_EQ(failing.Calls().size(), 1u);

    kxtest::FakeAdb untouched;
    EXPECT_EQ(KX_CheckPhoneReady("", 5555, 8182, 0, 0, 5000), -4);
    EXPECT_EQ(KX_CheckPhoneReady(nullptr, 5555, 8182, 0, 0, 5000), -4);
    EXPECT_EQ(KX_CheckPhoneReady("S", 0, 8182, 0, 0, 5000), -4);
    EXPECT_TRUE(untouched.Calls().empty());
}

} // namespace
