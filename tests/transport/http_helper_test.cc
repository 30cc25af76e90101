// The request engine: session ids, session confirmation, retries with bridge resets, cancel,
// statistics, and KillProcess.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <regex>
#include <thread>

#include "platform/format.h"
#include "support/scripted_peer.h"
#include "transport/http_helper.h"
#include "transport/text_encoding.h"
#include "transport_test_util.h"

namespace {

using kxtest::HttpAnswer;
using kxtest::PeerAction;
using kxtest::PeerScript;
using kxtest::ScriptedPeer;

using kxtest::CancelWhen;
using kxtest::IsSessionCtrl;

std::string ForwardCall(int port) {
    return "<-s><SER123><forward><tcp:" + std::to_string(port) + "><tcp:8182>";
}

struct UrlCase {
    const char16_t* url;
    const char16_t* host;
    int32_t port;
};

TEST(SetIpAddressAndPort, TakesHostAndPortOutOfTheUrl) {
    const UrlCase cases[] = {
        {u"http://127.0.0.1:8182", u"127.0.0.1", 8182},
        {u"http://127.0.0.1:8182/path?q=1", u"127.0.0.1", 8182},
        {u"http://127.0.0.1", u"127.0.0.1", 0},
        {u"http://user@10.0.0.1:80", u"10.0.0.1", 80},
        {u"127.0.0.1:99", u"127.0.0.1", 99},
        {u"http://:80", u"", 80},
        {u"http://127.0.0.1:99999", u"127.0.0.1", 0},
        {u"http://127.0.0.1:12ab", u"127.0.0.1", 12},
        {u"", u"", 0},
    };
    for (const UrlCase& c : cases) {
        CHttpHelper helper;
        EXPECT_EQ(helper.SetIpAddressAndPort(c.url, 7), 0);
        EXPECT_EQ(helper.Host(), c.host) << WideToUtf8(c.url);
        EXPECT_EQ(helper.Port(), c.port) << WideToUtf8(c.url);
    }
}

class HttpHelperTest : public kxtest::TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        env.processes = {{10, "adb"}, {11, "ADB"}, {12, "adbd"}, {13, "bash"}};
    }
    static void Point(CHttpHelper& helper, int port) {
        helper.SetIpAddressAndPort(platform::Format(u"http://127.0.0.1:%d", port));
    }
    // One request through a fresh helper pointed at the loopback port.
    static int32_t Ask(int port, HttpMethod method, std::unique_ptr<char[]>* response, uint32_t timeout = 600,
                       const char* body = nullptr) {
        CHttpHelper helper;
        Point(helper, port);
        return helper.httpRequest(method, u"/p", response, body, body ? std::strlen(body) : 0, timeout);
    }
};

TEST_F(HttpHelperTest, FirstTimeSuccessSendsOneRequestAndOneConfirmationWithTheSameSessionId) {
    ScriptedPeer peer([](int, const std::string& request) {
        return PeerScript{PeerAction::Send(HttpAnswer(IsSessionCtrl(request) ? "" : "answer"))};
    });
    CHttpHelper helper;
    Point(helper, peer.Port());
    theApp.ResetRequestStats();
    std::unique_ptr<char[]> response;
    size_t length = 99;
    ASSERT_EQ(helper.httpRequestGet(u"/contact/do/read", &response, "body!", 5, 600, &length), 0);
    ASSERT_TRUE(response);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(std::string(response.get(), 7), std::string("answer\0", 7));

    std::vector<std::string> requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string sid = kxtest::HeaderValue(requests[0], "SessionID");
    EXPECT_EQ(requests[0], "GET /contact/do/read HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:" + sid +
                               "\r\nContent-Length:5\r\n\r\nbody!");
    EXPECT_EQ(requests[1],
              "POST /session_ctrl HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:" + sid + "\r\n\r\n");
    // TaskStamp, the UUID, the tick count.
    const std::string stamp = platform::Narrow(theApp.TaskStamp());
    EXPECT_EQ(sid.compare(0, stamp.size(), stamp), 0) << sid;
    EXPECT_TRUE(std::regex_match(sid, std::regex("[0-9]{10}_[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                                 "[0-9a-f]{12}_[0-9]{10}")))
        << sid;
    EXPECT_EQ(trace.CountFunction("SID=" + sid), 1);
    EXPECT_EQ(
        trace.CountContaining("[Action=Info],[Function= #################### [ Done Without Retry, Time:"),
        1);
    EXPECT_EQ(theApp.StatsWithRetry(), 0u);
    EXPECT_TRUE(adb.Calls().empty());
}

TEST_F(HttpHelperTest, AnEmptyBodyIsAnAnswerOfOneNulByte) {
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Send(HttpAnswer(""))}; });
    CHttpHelper helper;
    Point(helper, peer.Port());
    std::unique_ptr<char[]> response;
    size_t length = 99;
    ASSERT_EQ(helper.httpRequestPost(u"/x", &response, nullptr, 0, 600, &length), 0);
    ASSERT_TRUE(response);
    EXPECT_EQ(response[0], '\0');
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(peer.Requests()[0], "POST /x HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:" +
                                      kxtest::HeaderValue(peer.Requests()[0], "SessionID") + "\r\n\r\n");
}

// Records how long the engine slept between connection attempts.
class TimelineEnv : public kxtest::ProcessListEnv {
public:
    int SocketConnect(int fd, const char* ip, int port) override {
        std::lock_guard<std::mutex> hold(lock);
        if (sleptSinceConnect > 0 || connects.empty())
            gaps.push_back(sleptSinceConnect);
        sleptSinceConnect = 0;
        connects.push_back(port);
        return target()->SocketConnect(fd, ip, port);
    }
    void SleepMillis(uint32_t ms) override {
        {
            std::lock_guard<std::mutex> hold(lock);
            sleptSinceConnect += ms;
        }
        target()->SleepMillis(ms);
    }
    std::mutex lock;
    std::vector<int> connects;
    std::vector<uint32_t> gaps; // sleep before each attempt (the first is 0)
    uint32_t sleptSinceConnect = 0;
};

TEST_F(HttpHelperTest, AHandsetThatNeverAnswersGetsSixAttemptsAndFiveResets) {
    // The delete's text alone carries a line break of its own.
    const struct {
        HttpMethod method;
        const char *caller, *sendFailTail;
    } cases[] = {{HttpMethod::Get, "CHttpHelper::httpRequestGet", ""},
                 {HttpMethod::Put, "CHttpHelper::httpRequestPut", ""},
                 {HttpMethod::Post, "CHttpHelper::httpRequestPost", ""},
                 {HttpMethod::Delete, "CHttpHelper::httpRequestDelete", "\r\n"}};
    const std::string banner = " #################### ",
                      sendFail = "[Send Command Fail, Kill Service And Try Again]";
    const platform::Timing timing = theApp.timing();
    for (const auto& c : cases) {
        TimelineEnv timeline;
        timeline.processes = env.processes;
        theApp.SetEnv(&timeline);
        kxtest::FakeAdb freshAdb;
        trace.Clear();
        const int port = kxtest::UnusedPort();
        std::unique_ptr<char[]> response;
        EXPECT_EQ(Ask(port, c.method, &response, 600, "b"), -2) << c.caller;
        EXPECT_FALSE(response);

        EXPECT_EQ(timeline.connects.size(), 18u) << c.caller; // 6 attempts of 3 connects
        EXPECT_EQ(freshAdb.Calls(), std::vector<std::string>(5, ForwardCall(port))) << c.caller;
        EXPECT_EQ(timeline.Terminated(), std::vector<int>({10, 11, 10, 11, 10, 11, 10, 11, 10, 11}))
            << c.caller;
        // Two reset waits between attempts; the back-off comes on top before the 3rd and the 5th.
        const uint32_t reset = 2 * timing.resetWaitMs, backoff = timing.retryBackoffMs;
        EXPECT_EQ(timeline.gaps,
                  std::vector<uint32_t>({0, reset, reset + backoff, reset, reset + backoff, reset}))
            << c.caller;
        const std::string prefix = std::string("[Caller=") + c.caller + "],[Action=Error],[Function=";
        EXPECT_EQ(trace.CountContaining(prefix + banner + sendFail + banner + c.sendFailTail + "],[Time="), 5)
            << c.caller;
        EXPECT_EQ(trace.CountContaining(prefix + banner + "Retry End Or Cancel:0" + banner + "]"), 1)
            << c.caller;
    }
    theApp.SetEnv(&env);
}

TEST_F(HttpHelperTest, ConfirmationsThatAlwaysFailStillDeliverTheAnswer) {
    ScriptedPeer peer([](int, const std::string& request) {
        return IsSessionCtrl(request) ? PeerScript{PeerAction::Close()}
                                      : PeerScript{PeerAction::Send(HttpAnswer("kept"))};
    });
    theApp.ResetRequestStats();
    std::unique_ptr<char[]> response;
    ASSERT_EQ(Ask(peer.Port(), HttpMethod::Get, &response), 0);
    EXPECT_STREQ(response.get(), "kept");
    int main = 0, confirmations = 0;
    for (const std::string& r : peer.Requests())
        (IsSessionCtrl(r) ? confirmations : main)++;
    EXPECT_EQ(main, 1);
    EXPECT_EQ(confirmations, 6);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>(5, ForwardCall(peer.Port())));
    EXPECT_EQ(trace.CountBanner("[ SID_CTRL Send Command Fail, Kill Service And Try Again]"), 5);
    EXPECT_EQ(trace.CountBanner("Retry End Or Cancel:6"), 1);
    EXPECT_EQ(trace.CountContaining("[Function= #################### [ Done With Retry [0/6] [6/6], Time:"),
              1);
    EXPECT_EQ(theApp.StatsWithoutRetry(), 0u);
}

TEST_F(HttpHelperTest, RetriesCountInTheDoneTrace) {
    // Two failed attempts, then an answer.
    ScriptedPeer peer([](int index, const std::string& request) {
        if (index < 2)
            return PeerScript{PeerAction::Close()};
        return PeerScript{PeerAction::Send(HttpAnswer(IsSessionCtrl(request) ? "" : "third"))};
    });
    CHttpHelper helper;
    Point(helper, peer.Port());
    std::unique_ptr<char[]> response;
    ASSERT_EQ(helper.httpRequestPut(u"/w", &response, "x", 1, 1800), 0);
    EXPECT_STREQ(response.get(), "third");
    EXPECT_EQ(trace.CountContaining("[Function= #################### [ Done With Retry [2/6] [0/6], Time:"),
              1);
    EXPECT_EQ(adb.Calls().size(), 2u);
}

TEST_F(HttpHelperTest, TwoThreadsFailingTogetherResetOnce) {
    platform::Timing timing = theApp.timing();
    timing.resetWaitMs = 150; // the reset stays in progress while the other thread fails
    theApp.SetTiming(timing);
    ScriptedPeer peer([](int index, const std::string& request) {
        if (index < 2)
            return PeerScript{PeerAction::Close()};
        return PeerScript{PeerAction::Send(HttpAnswer(IsSessionCtrl(request) ? "" : "fine"))};
    });
    std::atomic<int> ready{0};
    int32_t results[2] = {-100, -100};
    auto work = [&](int i) {
        ++ready;
        while (ready.load() < 2) {
        }
        std::unique_ptr<char[]> response;
        results[i] = Ask(peer.Port(), HttpMethod::Get, &response);
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>({ForwardCall(peer.Port())}));
    EXPECT_EQ(env.Terminated(), std::vector<int>({10, 11}));
    EXPECT_EQ(trace.CountBanner("[Send Command Fail, Kill Service And Try Again]"), 1);
    EXPECT_EQ(trace.CountBanner("[  Resetting Adb Service.......  ]"), 1);
}

TEST_F(HttpHelperTest, CancelDuringABackOffEndsWith21AtOnce) {
    platform::Timing timing = theApp.timing();
    timing.retryBackoffMs = 60000;
    theApp.SetTiming(timing);
    // The second reset never comes: the back-off before the 3rd attempt starts after the first.
    std::thread canceller = CancelWhen([&] { return !adb.Calls().empty(); }, 100);
    auto start = std::chrono::steady_clock::now();
    CHttpHelper helper;
    Point(helper, kxtest::UnusedPort());
    std::unique_ptr<char[]> response;
    int32_t r = helper.httpRequestDelete(u"/d", &response, nullptr, 0, 1800);
    auto elapsed = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(r, 21);
    EXPECT_EQ(adb.Calls().size(), 1u);
    EXPECT_EQ(env.Terminated().size(), 2u); // no second reset
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    EXPECT_GE(trace.CountContaining("Function = CHttpHelper::httpRequestDelete GetLastError"), 1);
}

TEST_F(HttpHelperTest, CancelInsideAnAttemptAConfirmationOrAReset) {
    {
        // A silent handset: the attempt sees the cancel (-6) within about one wait step (100 ms
        // here; the bridge check would come at 3 s) and nothing is checked, retried or reset.
        theApp.SetTiming(kxtest::TestTiming(100));
        ScriptedPeer silent([](int, const std::string&) { return PeerScript{PeerAction::Hold()}; });
        std::thread canceller = CancelWhen([&] { return silent.Connections() > 0; }, 150);
        auto start = std::chrono::steady_clock::now();
        std::unique_ptr<char[]> response;
        EXPECT_EQ(Ask(silent.Port(), HttpMethod::Get, &response, 1800), -6);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
        canceller.join();
        theApp.SetTiming(kxtest::TestTiming(2));
        EXPECT_FALSE(response);
        EXPECT_TRUE(adb.Calls().empty());
        EXPECT_EQ(silent.Connections(), 1);
        EXPECT_TRUE(env.Terminated().empty());
        EXPECT_EQ(trace.CountBanner("Retry End Or Cancel:5"), 1);
    }
    {
        // The answer came; a cancel during its confirmation does not take it back.
        theApp.CancelFlag = false;
        trace.Clear();
        ScriptedPeer peer([](int, const std::string& request) {
            return IsSessionCtrl(request) ? PeerScript{PeerAction::Hold()}
                                          : PeerScript{PeerAction::Send(HttpAnswer("main"))};
        });
        std::thread canceller = CancelWhen([&] { return peer.Connections() > 1; });
        std::unique_ptr<char[]> response;
        EXPECT_EQ(Ask(peer.Port(), HttpMethod::Post, &response, 1800, "x"), 0);
        canceller.join();
        ASSERT_TRUE(response);
        EXPECT_STREQ(response.get(), "main");
        EXPECT_TRUE(env.Terminated().empty());
        EXPECT_EQ(
            trace.CountContaining("[Function= #################### [ Done With Retry [0/6] [1/6], Time:"), 1);
    }
    {
        // A cancel during the reset's own wait gives 21 and leaves the reset free for others.
        theApp.CancelFlag = false;
        platform::Timing timing = theApp.timing();
        timing.resetWaitMs = 60000;
        theApp.SetTiming(timing);
        std::thread canceller = CancelWhen([&] { return !env.Terminated().empty(); });
        std::unique_ptr<char[]> response;
        EXPECT_EQ(Ask(kxtest::UnusedPort(), HttpMethod::Delete, &response, 1800), 21);
        canceller.join();
        EXPECT_FALSE(theApp.ResetInProgress.load());
        ASSERT_TRUE(theApp.ResetLock.try_lock());
        theApp.ResetLock.unlock();
        EXPECT_TRUE(adb.Calls().empty()); // the forward comes after the wait
    }
}

struct WaitingCase {
    HttpMethod method;
    const char* resetting;        // the main loop's waiting banner
    const char* sessionResetting; // the confirmation loop's
};

TEST_F(HttpHelperTest, WaitersForAnotherThreadsResetTraceTheirOperationsTextAndGiveUpOnCancel) {
    const WaitingCase cases[] = {
        {HttpMethod::Get, "[  Resetting Adb Service.......  ]", "[ SID_CTRL  Resetting Adb Service....... ]"},
        {HttpMethod::Put, "[ Resetting Adb Service....... ]", "[ SID_CTRL  Resetting Adb Service....... ]"},
        {HttpMethod::Post, "[ Resetting Adb Service....... ]", "[ SID_CTRL  Resetting Adb Service....... ]"},
        {HttpMethod::Delete, "[ Resetting Adb Service...... ]", "[ SID_CTRL  Resetting Adb Service...... ]"}};
    ScriptedPeer peer([](int, const std::string& request) {
        return IsSessionCtrl(request) ? PeerScript{PeerAction::Close()}
                                      : PeerScript{PeerAction::Send(HttpAnswer("main"))};
    });
    for (const WaitingCase& c : cases) {
        for (bool confirmation : {false, true}) {
            trace.Clear();
            theApp.CancelFlag = false;
            // Another thread holds the reset: this one waits, and a cancel ends the wait with 21.
            theApp.ResetLock.lock();
            theApp.ResetInProgress = true;
            std::thread canceller = CancelWhen([] { return true; }, 60);
            std::unique_ptr<char[]> response;
            int32_t r = Ask(confirmation ? peer.Port() : kxtest::UnusedPort(), c.method, &response);
            canceller.join();
            theApp.ResetInProgress = false;
            theApp.ResetLock.unlock();
            EXPECT_EQ(r, 21);
            EXPECT_FALSE(response);
            EXPECT_EQ(trace.CountBanner(confirmation ? c.sessionResetting : c.resetting), 1)
                << c.resetting << confirmation;
        }
    }
    EXPECT_TRUE(adb.Calls().empty());
}

// The system's own listing and kill: the Env suite.
TEST(KillProcess, EveryProcessOfTheNameIgnoringCaseAFailedKillTracedAnUnreadableListZero) {
    kxtest::TransportTrace trace;
    kxtest::ProcessListEnv env;
    env.processes = {{20, "adb"}, {21, "Adb"}, {22, "adbd"}, {23, "bash"}};
    env.failingPid = 20;
    theApp.SetEnv(&env);
    CHttpHelper helper;
    EXPECT_EQ(helper.KillProcess("ADB"), 1);
    EXPECT_EQ(env.Terminated(), std::vector<int>({20, 21}));
    EXPECT_EQ(trace.CountBanner("[ Adb.exe Killed...]"), 1);
    EXPECT_EQ(trace.CountContaining("Function = CHttpHelper::KillProcess GetLastError"), 1);
    env.listable = false;
    EXPECT_EQ(helper.KillProcess(), 0);
    EXPECT_EQ(env.Terminated().size(), 2u);
    theApp.SetEnv(nullptr);
}

} // namespace
