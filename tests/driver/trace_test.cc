// The three kinds of trace line, exactly as TraceSink receives them, and TraceSink itself.
#include "trace/trace.h"

#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <tracesink.h>

#include "driver/app.h"
#include "platform/env.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace {

using kxtest::TraceCapture;

class FixedClockEnv : public platform::EnvWrapper {
public:
    FixedClockEnv() : EnvWrapper(platform::Env::Default()) {}
    platform::CivilTime UtcNow() override { return now; }
    uint32_t ThreadId() override { return tid; }
    int LastError() override { return lastError; }
    platform::CivilTime now;
    int lastError = 0;
    uint32_t tid = 4242;
};

class TraceLines : public ::testing::Test {
protected:
    void SetUp() override { theApp.SetEnv(&env_); }
    void TearDown() override { theApp.SetEnv(nullptr); }
    FixedClockEnv env_;
};

// An Enter line is tagged Call, an error line Debug; the rest of the line is the Info line's
// (held whole against the formatter below).
TEST_F(TraceLines, EnterAndErrorLinesAreExact) {
    env_.now = {2026, 3, 7, 4, 5, 6, 7};
    TraceCapture trace;
    int enterLine = __LINE__ + 1;
    KX_TRACE_ENTER(u"Read", u"theApp.m_FakePhone.Read");
    int errorLine = __LINE__ + 1;
    KX_TRACE_ERROR(u"ThreadProc", u"CreateThread Error!");
    const std::string rest = "],[Time=2026-03-07 04:05:06 007],[File=trace_test.cc],[Line=";
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "[TID=4242][Tag=Call],[Module=vexoCorsaT3.dll],[Caller=Read],[Action=Enter],"
                  "[Function=theApp.m_FakePhone.Read" +
                      rest + std::to_string(enterLine) + "]:\r\n",
                  "[TID=4242][Tag=Debug],[Module=vexoCorsaT3.dll],[Caller=ThreadProc],[Action=Error],"
                  "[Function=CreateThread Error!" +
                      rest + std::to_string(errorLine) + "]:\r\n"}));
}

// The line is put together piece by piece; it is the general formatter's line of before, whatever
// the numbers (printf's padding, signs and widths included) and whatever the texts hold.
TEST_F(TraceLines, PiecesGiveTheFormattedLine) {
    struct Case {
        uint32_t tid;
        platform::CivilTime now;
        std::u16string function;
    } cases[] = {
        {0, {0, 0, 0, 0, 0, 0, 0}, u""},
        {4294967295u, {12345, 123, 7, 99, 100, 61, 1000}, u"caf\u00e9 \U0001F338"},
        {99999999, {-5, -1, -12, 1, 2, 3, -7}, std::u16string(u"cut\0here", 8)},
        {100000000, {2026, 12, 31, 23, 59, 59, 999}, u"%s %d %%"},
    };
    for (const Case& c : cases) {
        env_.now = c.now;
        env_.tid = c.tid;
        TraceCapture trace;
        int line = __LINE__ + 1;
        KX_TRACE_INFO(u"Caller", c.function);
        const std::u16string expected = platform::Format(
            u"[TID=%u][Tag=%s],[Module=%s],[Caller=%s],[Action=%s],[Function=%s],[Time=%04d-%02d-%02d "
            u"%02d:%02d:%02d %03d],[File=%S],[Line=%d]:\r\n",
            c.tid, u"Debug", u"vexoCorsaT3.dll", u"Caller", u"Info", c.function.c_str(), c.now.year,
            c.now.month, c.now.day, c.now.hour, c.now.minute, c.now.second, c.now.millisecond,
            "trace_test.cc", line);
        EXPECT_EQ(trace.Text(), platform::Utf16ToUtf8(expected.data(), expected.size()));
    }
}

TEST_F(TraceLines, ErrorLineAndDebugPrint) {
    env_.lastError = 39;
    TraceCapture trace;
    int line = __LINE__ + 1;
    KX_ERROR_LINE(u"CKXPhoneApp::MilliSleep");
    kxtrace::DebugPrint(u"\r\n orlen T3 Stopped\r\n");
    kxtrace::DebugPrint(u"Begin SendMessage To Caller\r\n");
    kxtrace::DebugPrint(u"count=%d name=%s", 5, u"Zoë");
    kxtrace::DebugPrint(u"%s", u"100%d done"); // the caller's text is not formatted twice
    EXPECT_EQ(trace.Text(), "trace_test.cc(" + std::to_string(line) +
                                ") : Function = CKXPhoneApp::MilliSleep GetLastError = 39\r\n"
                                "Orlen vexoCorsaT3.dll-\r\n orlen T3 Stopped\r\n"
                                "Orlen vexoCorsaT3.dll-Begin SendMessage To Caller\r\n"
                                "Orlen vexoCorsaT3.dll-count=5 name=Zo\xC3\xAB"
                                "Orlen vexoCorsaT3.dll-100%d done");
}

TEST(TraceTime, TheRealClockIsUtcWithThreeDigitMilliseconds) {
    TraceCapture trace;
    time_t before, after;
    {
        kxtest::ScopedEnvVar tz("TZ", "Pacific/Kiritimati"); // UTC+14: a local time would show
        before = ::time(nullptr);
        KX_TRACE_INFO(u"Test", u"now");
        after = ::time(nullptr);
    }

    std::smatch m;
    std::string line = trace.Text();
    ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(\[Time=(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \d{3}\])")))
        << line;
    struct tm t = {};
    std::istringstream(m[1].str()) >> std::get_time(&t, "%Y-%m-%d %H:%M:%S");
    time_t stamped = ::timegm(&t);
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
    EXPECT_EQ(line.substr(line.size() - 4), "]:\r\n");
}

TEST(TraceSinkLib, TextIsWrittenAsUtf8) {
    TraceCapture trace;
    const char16_t text[] = {u'a',   0x00E9, 0x20AC, 0xD83D, 0xDE00, u'|',
                             0xD800, u'|',   0xDC00, u'\r',  u'\n',  0};
    OutputString(u"vexoCorsaT3", 2, text);
    OutputString(u"vexoCorsaT3", 2, nullptr);
    EXPECT_EQ(trace.Text(), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80|\xEF\xBF\xBD|\xEF\xBF\xBD\r\n");
}

TEST(TraceSinkLib, FollowsTheTraceFileVariable) {
    TraceCapture outer;
    OutputString(u"t", 2, u"one\r\n");
    {
        TraceCapture inner;
        OutputString(u"t", 2, u"two\r\n");
        EXPECT_EQ(inner.Text(), "two\r\n");
        // A removed file is created again (noticed within a tenth of a second).
        ::unlink(inner.path().c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        OutputString(u"t", 2, u"three\r\n");
        EXPECT_EQ(inner.Text(), "three\r\n");
    }
    OutputString(u"t", 2, u"four\r\n");
    EXPECT_EQ(outer.Text(), "one\r\nfour\r\n");

    ::setenv("KXPHONE_TRACE_FILE", "", 1);
    OutputString(u"t", 2, u"nowhere\r\n");
    ::setenv("KXPHONE_TRACE_FILE", outer.path().c_str(), 1);
    EXPECT_EQ(outer.Text(), "one\r\nfour\r\n");
}

TEST(TraceSinkLib, ConcurrentWritersNeverSplitALine) {
    TraceCapture trace;
    constexpr int kThreads = 8, kLines = 120;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                // Lengths up to well past a pipe buffer and a stdio buffer.
                size_t length = static_cast<size_t>((i * 7919 + t * 104729) % 20000);
                std::u16string line = u"T" + std::u16string(1, static_cast<char16_t>(u'A' + t)) + u":" +
                                      std::u16string(length, static_cast<char16_t>(u'a' + t)) + u"\r\n";
                OutputString(u"vexoCorsaT3", 2, line.c_str());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<std::string> lines = trace.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> perThread(kThreads, 0);
    for (const std::string& line : lines) {
        ASSERT_GE(line.size(), 5u);
        int t = line[1] - 'A';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 10);
        EXPECT_EQ(line.substr(0, 3), std::string("T") + line[1] + ":");
        EXPECT_EQ(line.find_first_not_of(static_cast<char>('a' + t), 3), line.size() - 2)
            << "line of thread " << t;
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        ++perThread[t];
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(perThread[t], kLines);
}

} // namespace
