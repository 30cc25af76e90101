// The export frames and the phone object's dispatch, driven through the exported functions as a
// host calls them.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <kxphone/kxphone.h>

#include "driver/app.h"
#include "platform/env.h"
#include "platform/timing.h"
#include "support/driver_on_sim.h"
#include "support/host_window_recorder.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace {

using kxtest::TraceCapture;

class FakeEnv : public platform::EnvWrapper {
public:
    FakeEnv() : EnvWrapper(platform::Env::Default()) {}
    uint32_t TickCount() override { return tick; }
    void* OpenModule(const std::string& path) override {
        return failOpen ? nullptr : target()->OpenModule(path);
    }
    void* ModuleSymbol(void* module, const char* name) override {
        return missing.count(name) ? nullptr : target()->ModuleSymbol(module, name);
    }
    std::atomic<uint32_t> tick{42};
    bool failOpen = false;
    std::set<std::string> missing;
};

// The part of a structured line after the time-varying thread id.
std::string CallLine(const std::string& caller, const std::string& action, const std::string& function) {
    return "[Tag=Call],[Module=vexoCorsaT3.dll],[Caller=" + caller + "],[Action=" + action +
           "],[Function=" + function + "],[Time=";
}
std::string InfoLine(const std::string& caller, const std::string& message) {
    return "[Tag=Debug],[Module=vexoCorsaT3.dll],[Caller=" + caller + "],[Action=Info],[Function=" + message +
           "],[Time=";
}
const char kCancelCleared[] = "Cancel flag found, set it to false!";

// Index of the first line containing fragment, or -1.
int Find(const std::vector<std::string>& lines, const std::string& fragment) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(fragment) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KX_AUX_SYNC_LOG", auxLog_.c_str(), 1);
        ::unsetenv("KX_AUX_SYNC_RESULT");
        ::unsetenv("KX_AUX_SYNC_BLOCK");
        ::setenv("KXPHONE_ADB", "/bin/false", 1); // a failed ClearChangeLog asks the bridge
        kxtest::ResetDriver();                    // (loads AuxSyncModule)
        theApp.ReleaseAuxModule();
        theApp.SetTiming(kxtest::TestTiming(1));
        theApp.SetEnv(&env_);
        std::ofstream(auxLog_, std::ios::trunc).flush();
    }
    void TearDown() override {
        kxtest::ResetDriver();
        theApp.ReleaseAuxModule();
        for (const char* name : {"KX_AUX_SYNC_LOG", "KX_AUX_SYNC_RESULT", "KX_AUX_SYNC_BLOCK", "KXPHONE_ADB"})
            ::unsetenv(name);
    }
    std::vector<std::string> AuxCalls() const { return kxtest::FileLines(auxLog_); }

    FakeEnv env_;
    kxtest::TempDir dir_{"kxframe"};
    const std::string auxLog_ = dir_.path() + "/aux.log";
};

TEST_F(Frame, InitDriverAlwaysWritesTheIdAndClearsTheCancelFlag) {
    for (bool cancel : {false, true}) {
        TraceCapture trace;
        theApp.CancelFlag = cancel;
        theApp.m_FakePhone.StopFlag = true; // any prior state
        uint32_t id = 7;
        InitDriver(&id);
        EXPECT_EQ(id, 0x26080018u);
        EXPECT_FALSE(theApp.CancelFlag.load());
        auto lines = trace.Lines();
        if (cancel) {
            ASSERT_EQ(lines.size(), 1u) << trace.Text();
            EXPECT_NE(lines[0].find(InfoLine("InitDriver", kCancelCleared)), std::string::npos) << lines[0];
        } else {
            EXPECT_TRUE(lines.empty()) << trace.Text();
        }
    }
    InitDriver(nullptr); // nothing to write to: no crash
}

// Each traced export writes its Enter and Leave lines (Read and Write their task line between
// them); all but Stop clear a raised cancel flag on the way out, after the Leave line.
TEST_F(Frame, TracedExportsWriteTheirFrameAndClearTheCancelFlag) {
    uintptr_t slot = 0;
    struct Case {
        const char* caller;
        const char* function;
        std::function<void()> call;
        const char* taskLineOf = nullptr;
        bool clears = true;
    } cases[] = {
        {"DeleteIO", "theApp.m_FakePhone.Delete", [] { DeleteIO(99, 0); }},
        {"GetProfile", "theApp.m_FakePhone.GetProfile",
         [&] { GetProfile(99, reinterpret_cast<uintptr_t>(&slot)); }},
        {"InitSync", "theApp.m_FakePhone.InitSync", [] { InitSync(0, nullptr); }},
        {"Read", "theApp.m_FakePhone.Read", [] { Read(7, 0); }, "CKXFakePhone::Read"},
        {"Write", "theApp.m_FakePhone.Write", [] { Write(7, 0); }, "CKXFakePhone::Write"},
        {"ClearChangeLog", "theApp.m_FakePhone.CleanChangeLog", [] { ClearChangeLog(99, 0); }},
        {"InquireInfo", "theApp.m_FakePhone.Inquire", [] { InquireInfo(9, 0); }},
        {"Stop", "theApp.m_FakePhone.Stop", [] { Stop(99, 0); }, nullptr, false},
        {"Verify", "theApp.m_FakePhone.Verify", [] { Verify(99, 0); }},
        {"UninitSync", "theApp.m_FakePhone.UninitSync", [] { UninitSync(0, 0); }},
    };
    for (const Case& c : cases) {
        TraceCapture trace;
        theApp.CancelFlag = true;
        c.call();
        auto lines = trace.Lines();
        int enter = Find(lines, CallLine(c.caller, "Enter", c.function));
        int leave = Find(lines, CallLine(c.caller, "Leave", c.function));
        int cleared = Find(lines, InfoLine(c.caller, kCancelCleared));
        EXPECT_GE(enter, 0) << c.caller << "\n" << trace.Text();
        EXPECT_GT(leave, enter) << c.caller << "\n" << trace.Text();
        EXPECT_EQ(trace.LinesWith({"[Tag=Call]", "[Function=" + std::string(c.function) + "]"}).size(), 2u)
            << c.caller;
        EXPECT_TRUE(c.clears ? cleared > leave : cleared == -1) << c.caller << "\n" << trace.Text();
        if (c.taskLineOf) {
            int task =
                Find(lines, InfoLine(c.taskLineOf, " #################### [ Task Finshed, Without Retry:0, "
                                                   "With Retry:0, Total:0 ] #################### "));
            EXPECT_TRUE(enter < task && task < leave) << c.caller << "\n" << trace.Text();
        }
        EXPECT_NE(c.clears, theApp.CancelFlag.load()) << c.caller;
    }
}

TEST_F(Frame, BackupAndRestoreRouteByTheirOwnNumbering) {
    struct Case {
        const char* name;
        std::function<int32_t()> call;
        bool errorLine;
    } cases[] = {
        {"Backup", [] { return Backup(8, u"ip", 1, u"/tmp/none", 0, 0); }, true},
        {"Restore", [] { return Restore(1, u"ip", 1, u"/tmp/none", 0, 0, 0); }, true},
        {"Backup", [] { return Backup(2, u"ip", 1, nullptr, 0, 0); }, false},
        {"Restore", [] { return Restore(3, nullptr, 0, nullptr, 0, 2, 0); }, false},
    };
    std::regex errorLine(R"(^exports\.cc\(\d+\) : Function = (Backup|Restore) GetLastError = -?\d+\r\n$)");
    for (const Case& c : cases) {
        TraceCapture trace;
        int32_t result = c.call();
        auto lines = trace.Lines();
        if (c.errorLine) {
            EXPECT_EQ(result, 1) << c.name;
            ASSERT_EQ(lines.size(), 1u) << trace.Text();
            EXPECT_TRUE(std::regex_match(lines[0], errorLine)) << lines[0];
            EXPECT_NE(lines[0].find(std::string("Function = ") + c.name + " "), std::string::npos);
        } else {
            // Routed to a worker: no error line of the frame, and no frame lines at all.
            EXPECT_EQ(trace.LinesWith({"exports.cc("}).size(), 0u) << trace.Text();
        }
        EXPECT_EQ(trace.LinesWith({std::string("[Caller=") + c.name + "]"}).size(), 0u) << trace.Text();
        EXPECT_FALSE(theApp.CancelFlag.load());
    }
}

TEST_F(Frame, ResultMapping) {
    // Read and Write of types 3 and 6 hand back what AuxSyncModule answered; the frame maps it.
    struct Case {
        const char* answer;
        int32_t mapped;
    } cases[] = {{"0", 0}, {"12", 12}, {"21", 21}, {"1", 1100}, {"2", 1100}, {"-4", 1100}, {"1100", 1100}};
    for (const Case& c : cases) {
        ::setenv("KX_AUX_SYNC_RESULT", c.answer, 1);
        EXPECT_EQ(Read(3, 77), c.mapped) << c.answer;
        EXPECT_EQ(Write(6, 78), c.mapped) << c.answer;
        EXPECT_EQ(theApp.m_FakePhone.Read(3, 1), std::atoi(c.answer)) << "the phone object does not map";
    }
    auto calls = AuxCalls();
    EXPECT_EQ(calls.front(), "load");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Read 3 77"), 7);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Write 6 78"), 7);

    // Dispatch defaults.
    uintptr_t slot = 0;
    EXPECT_EQ(Read(7, 0), 1100); // no handler: 1
    EXPECT_EQ(theApp.m_FakePhone.Read(7, 0), 1);
    EXPECT_EQ(Write(7, 0), 0);
    EXPECT_EQ(InquireInfo(9, 0), 0);
    EXPECT_EQ(GetProfile(99, reinterpret_cast<uintptr_t>(&slot)), 0);
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(Verify(99, 0), 0);
    EXPECT_EQ(DeleteIO(99, 0), 0);
    EXPECT_EQ(Stop(99, 0), 0);
}

TEST_F(Frame, MissingAuxModuleOrEntryIsAFailureNotSuccess) {
    env_.failOpen = true;
    EXPECT_EQ(theApp.m_FakePhone.Read(3, 5), 1);
    EXPECT_EQ(theApp.m_FakePhone.Write(6, 5), 1);
    EXPECT_EQ(Read(6, 5), 1100);
    EXPECT_EQ(Write(3, 5), 1100);
    EXPECT_EQ(Stop(3, 5), 0);
    EXPECT_TRUE(AuxCalls().empty());

    // The module is there but has no Write entry: Read still forwards.
    env_.failOpen = false;
    env_.missing = {"Write"};
    EXPECT_EQ(Read(3, 5), 0);
    EXPECT_EQ(Write(3, 5), 1100);
    EXPECT_EQ(AuxCalls(), (std::vector<std::string>{"load", "Read 3 5"}));
}

TEST_F(Frame, InitSyncCopiesTheBlockAndANullBlockChangesNothing) {
    kxtest::HostWindowRecorder recorder;
    InitSyncParams params{0xFFFFFFFF, recorder.window(), 19001, u"http://127.0.0.1:19001", u"emulator-5554"};
    EXPECT_EQ(InitSync(3, &params), 0);
    auto settings = [&] {
        CKXFakePhone& p = theApp.m_FakePhone;
        return std::make_tuple(p.HostWindow() == recorder.window(), p.BaseUrl(), p.LocalPort(),
                               p.DeviceSerial(), p.DeviceSerialNarrow());
    };
    const auto copied = std::make_tuple(true, std::u16string(u"http://127.0.0.1:19001"), 19001,
                                        std::u16string(u"emulator-5554"), std::string("emulator-5554"));
    EXPECT_EQ(settings(), copied);
    EXPECT_EQ(AuxCalls(), (std::vector<std::string>{"load"}));
    theApp.AddRequestTime(false, 5);

    theApp.ReleaseAuxModule();
    EXPECT_EQ(InitSync(0, nullptr), 11);
    EXPECT_EQ(settings(), copied);
    EXPECT_EQ(theApp.StatsWithoutRetry(), 5u);
    EXPECT_EQ(theApp.AuxRead(), nullptr) << "a refused InitSync loads nothing";
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(Frame, SetParamStoresTheAddressAndCallbacks) {
    auto record = [](uint32_t, uintptr_t) {};
    auto progress = [](int32_t) {};
    EXPECT_EQ(SetParam(u"192.168.0.7", 8182, record, progress), 0);
    EXPECT_EQ(theApp.m_FakePhone.BaseUrl(), u"http://192.168.0.7:8182");
    EXPECT_EQ(theApp.m_FakePhone.RecordCallback.load(), static_cast<KXRecordCallback>(record));
    EXPECT_EQ(theApp.m_FakePhone.ProgressCallback.load(), static_cast<KXProgressCallback>(progress));
    EXPECT_EQ(SetParam(nullptr, -1, nullptr, nullptr), 0);
    EXPECT_EQ(theApp.m_FakePhone.BaseUrl(), u"http://:-1");
    EXPECT_EQ(theApp.m_FakePhone.RecordCallback.load(), nullptr);
}

// Read, Write and ClearChangeLog alone renew the task stamp; Read and Write alone clear a raised
// stop flag on the way out.
TEST_F(Frame, TaskStampAndStopFlagAfterEachOperation) {
    struct Case {
        const char* name;
        std::function<void()> call;
        uint32_t tick;
        std::u16string stamp;
        bool clearsStop;
    } cases[] = {
        {"Read", [] { Read(7, 0); }, 13, u"0000000013_", true},
        {"Write", [] { Write(7, 0); }, 2600000, u"0002600000_", true},
        {"ClearChangeLog", [] { ClearChangeLog(99, 0); }, 123456789, u"0123456789_", false},
        {"Write 6", [] { Write(6, 0); }, 4294967295u, u"4294967295_", true},
        {"InquireInfo", [] { InquireInfo(9, 0); }, 55, u"0000000007_", false},
        {"GetProfile", [] { GetProfile(99, 0); }, 55, u"0000000007_", false},
        {"Stop", [] { Stop(99, 0); }, 55, u"0000000007_", false},
    };
    for (const Case& c : cases) {
        env_.tick = 7;
        Read(7, 0);
        ASSERT_EQ(theApp.TaskStamp(), u"0000000007_");
        env_.tick = c.tick;
        theApp.m_FakePhone.StopFlag = true;
        c.call();
        EXPECT_EQ(theApp.TaskStamp(), c.stamp) << c.name;
        EXPECT_NE(c.clearsStop, theApp.m_FakePhone.StopFlag.load()) << c.name;
    }
}

TEST_F(Frame, StopBeforeAnyInitSyncLoadsAuxSyncModuleAndForwards) {
    TraceCapture trace;
    EXPECT_EQ(Stop(3, 42), 0);
    EXPECT_EQ(AuxCalls(), (std::vector<std::string>{"load", "Stop 3 42"}));
    EXPECT_TRUE(theApp.m_FakePhone.StopFlag.load());
    EXPECT_FALSE(theApp.CancelFlag.load()) << "nothing runs: no transfer to cancel";
    std::string text = trace.Text();
    size_t enter = text.find(CallLine("Stop", "Enter", "theApp.m_FakePhone.Stop"));
    size_t print = text.find("Orlen vexoCorsaT3.dll-\r\n orlen T3 Stopped\r\n");
    size_t leave = text.find(CallLine("Stop", "Leave", "theApp.m_FakePhone.Stop"));
    EXPECT_LT(enter, print);
    EXPECT_LT(print, leave);
    EXPECT_NE(leave, std::string::npos) << text;
}

TEST_F(Frame, UninitSyncTwice) {
    InitSyncParams params{0, nullptr, 1, u"", u""};
    ASSERT_EQ(InitSync(0, &params), 0);
    ASSERT_NE(theApp.AuxStop(), nullptr);
    {
        TraceCapture trace;
        EXPECT_EQ(UninitSync(0, 0), 0);
        EXPECT_EQ(UninitSync(5, 6), 0);
        EXPECT_EQ(trace.LinesWith({"[Caller=UninitSync],[Action=Enter]"}).size(), 2u) << trace.Text();
        EXPECT_EQ(trace.LinesWith({"[Caller=UninitSync],[Action=Leave]"}).size(), 2u) << trace.Text();
    }
    EXPECT_EQ(AuxCalls(), (std::vector<std::string>{"load", "unload"}));
    EXPECT_TRUE(!theApp.AuxRead() && !theApp.AuxWrite() && !theApp.AuxStop());
    // The next delegating call loads it again.
    EXPECT_EQ(Read(3, 9), 0);
    EXPECT_EQ(AuxCalls(), (std::vector<std::string>{"load", "unload", "load", "Read 3 9"}));
}

TEST_F(Frame, OnInputDataHasNoEffect) {
    TraceCapture trace;
    theApp.CancelFlag = true;
    OnInputData(0, 0);
    OnInputData(0xFFFFFFFF, 12345);
    EXPECT_TRUE(theApp.CancelFlag.load());
    EXPECT_TRUE(trace.Text().empty());
}

TEST_F(Frame, MilliSleepEndsSoonAfterTheCancelFlagIsRaised) {
    EXPECT_EQ(theApp.MilliSleep(0), 0);
    EXPECT_EQ(theApp.MilliSleep(3), 0);
    {
        TraceCapture trace;
        theApp.CancelFlag = true;
        EXPECT_EQ(theApp.MilliSleep(0), 0) << "no step, no test of the flag";
        EXPECT_EQ(theApp.MilliSleep(100000), 21);
        std::regex line(
            R"(^frame_test\.cc\(\d+\) : Function = CKXPhoneApp::MilliSleep GetLastError = -?\d+\r\n$|^transport_context\.cc\(\d+\) : Function = CKXPhoneApp::MilliSleep GetLastError = -?\d+\r\n$)");
        auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), 1u) << trace.Text();
        EXPECT_TRUE(std::regex_match(lines[0], line)) << lines[0];
        theApp.CancelFlag = false;
    }
    using Clock = std::chrono::steady_clock;
    std::atomic<int64_t> raisedAt{0};
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        raisedAt = Clock::now().time_since_epoch().count();
        theApp.CancelFlag = true;
    });
    int32_t result = theApp.MilliSleep(600000);
    auto endedAt = Clock::now().time_since_epoch().count();
    raiser.join();
    EXPECT_EQ(result, 21);
    auto late =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(endedAt - raisedAt.load()));
    EXPECT_LT(late.count(), 500) << "a one-millisecond step loop must notice the flag at once";
}

TEST_F(Frame, StopRaisesTheCancelFlagOnlyWhileAnOperationRuns) {
    const std::string block = dir_.path() + "/block";
    std::ofstream(block).flush();
    ::setenv("KX_AUX_SYNC_BLOCK", block.c_str(), 1);
    TraceCapture trace;
    std::atomic<int32_t> result{-1};
    std::thread reader([&] { result = Read(3, 11); });
    for (int i = 0; i < 5000 && AuxCalls().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(AuxCalls(), (std::vector<std::string>{"load", "Read 3 11"}));
    EXPECT_FALSE(theApp.CancelFlag.load());
    EXPECT_EQ(Stop(3, 11), 0);
    EXPECT_TRUE(theApp.CancelFlag.load()) << "Stop during a Read ends the transfer in flight";
    ::unlink(block.c_str());
    reader.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(theApp.CancelFlag.load());
    EXPECT_FALSE(theApp.m_FakePhone.StopFlag.load());
    EXPECT_EQ(trace.LinesWith({InfoLine("Read", kCancelCleared)}).size(), 1u) << trace.Text();

    EXPECT_EQ(Stop(3, 12), 0);
    EXPECT_FALSE(theApp.CancelFlag.load()) << "nothing runs";
}

TEST_F(Frame, AStopRacingTheEndOfAnOperationNeverLeavesTheCancelFlagRaised) {
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done.load())
            Stop(99, 0);
    });
    for (int i = 0; i < 300; ++i)
        Read(7, 0);
    done = true;
    stopper.join();
    EXPECT_FALSE(theApp.CancelFlag.load());
}

} // namespace

namespace {

TEST(RequestStats, ABridgeResetInProgressDoesNotHoldThemBack) {
    std::unique_lock<std::mutex> resetting(theApp.ResetLock);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        theApp.ResetRequestStats();
        theApp.AddRequestTime(false, 120);
        theApp.AddRequestTime(true, 30);
        theApp.AddRequestTime(false, 5);
        done = true;
    });
    for (int i = 0; i < 5000 && !done.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool finished = done.load();
    resetting.unlock();
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(theApp.StatsWithoutRetry(), 125u);
    EXPECT_EQ(theApp.StatsWithRetry(), 30u);
    theApp.ResetRequestStats();
}

} // namespace
