// Framing, request bytes and the receive loop of HttpClient against a scripted loopback peer.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/scripted_peer.h"
#include "transport/byte_array.h"
#include "transport/http_client.h"
#include "transport_test_util.h"

namespace {

using kxtest::HttpAnswer;
using kxtest::PeerAction;
using kxtest::PeerScript;
using kxtest::ScriptedPeer;

std::string Text(const ByteArray& a) {
    return std::string(a.Data() ? a.Data() : "", a.Size());
}

// One GET of "/" with session "S" on a fresh client to the loopback port.
int32_t Get(int port, uint32_t timeout, ByteArray* response = nullptr,
            const std::atomic<bool>* cancel = nullptr, const char* sid = "S") {
    return HttpClient().Request(HttpMethod::Get, "127.0.0.1", port, "/", nullptr, 0, response, timeout,
                                cancel, sid);
}

struct PkgCase {
    const char* name;
    std::string bytes;
    int32_t expected;
    std::string body;
};

TEST(HttpPkgFinished, ReadsTheAnswerAsTheServiceSendsIt) {
    const PkgCase cases[] = {
        {"header incomplete", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", -1, ""},
        {"body incomplete", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", -2, ""},
        {"complete", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabcde", 5, "abcde"},
        {"bytes beyond the length are ignored", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcde", 3,
         "abc"},
        {"no length: complete and empty", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nabcde", 0, ""},
        {"no blank after the colon", "HTTP/1.1 200 OK\r\nContent-Length:12\r\n\r\n0123456789AB", 12,
         "0123456789AB"},
        {"several blanks", "HTTP/1.1 200 OK\r\nContent-Length:   3\r\n\r\nxyz", 3, "xyz"},
        {"the field name is case-sensitive", "HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nxyz", 0, ""},
        {"a length in the body does not count", "HTTP/1.1 200 OK\r\n\r\nContent-Length: 3\r\n", 0, ""},
        {"a sign is not a digit", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nxyz", 0, ""},
        {"error status is an answer", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 2\r\n\r\nno", 2,
         "no"},
        {"declared length over the limit", "HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n", -4, ""},
    };
    for (const PkgCase& c : cases) {
        ByteArray response;
        EXPECT_EQ(HttpClient::HttpPkgFinished(c.bytes.data(), c.bytes.size(), &response), c.expected)
            << c.name;
        EXPECT_EQ(Text(response), c.body) << c.name;
    }
}

// Counts the sends of each request and can make the socket take a few bytes at a time.
class SendRecordingEnv : public kxtest::ProcessListEnv {
public:
    long SocketSendWithin(int fd, const void* data, size_t length, int ms) override {
        ++sends;
        return target()->SocketSendWithin(fd, data, length < maxChunk ? length : maxChunk, ms);
    }
    std::atomic<int> sends{0};
    size_t maxChunk = SIZE_MAX;
};

class HttpClientTest : public kxtest::TransportTest {};

TEST_F(HttpClientTest, SendsExactlyTheRequestBytesInOneWrite) {
    SendRecordingEnv counting;
    theApp.SetEnv(&counting);
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Send(HttpAnswer("ok"))}; });
    const struct {
        HttpMethod method;
        const char *path, *body, *sid, *bytes;
    } cases[] = {
        {HttpMethod::Get, "/contact/do/read", "hello", "S1",
         "GET /contact/do/read HTTP/1.1\r\nCache-Control: "
         "no-cache\r\nSessionID:S1\r\nContent-Length:5\r\n\r\nhello"},
        {HttpMethod::Post, "/session_ctrl", nullptr, nullptr,
         "POST /session_ctrl HTTP/1.1\r\nCache-Control: no-cache\r\n\r\n"},
        {HttpMethod::Put, "/a", "", "S2",
         "PUT /a HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:S2\r\n\r\n"},
        {HttpMethod::Delete, "/calendar/do/delete", "xy", "S3",
         "DELETE /calendar/do/delete HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:S3\r\n"
         "Content-Length:2\r\n\r\nxy"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        ByteArray response;
        EXPECT_EQ(HttpClient().Request(c.method, "127.0.0.1", peer.Port(), c.path, c.body,
                                       c.body ? std::strlen(c.body) : 0, &response, 1000, nullptr, c.sid),
                  2);
        EXPECT_EQ(Text(response), "ok");
        EXPECT_EQ(counting.sends.load(), static_cast<int>(i) + 1) << c.path;
        ASSERT_EQ(peer.Requests().size(), i + 1);
        EXPECT_EQ(peer.Requests()[i], c.bytes);
    }
    theApp.SetEnv(&env);
}

TEST_F(HttpClientTest, PartialSendsAreResumedUntilEveryByteIsOut) {
    SendRecordingEnv trickle;
    trickle.maxChunk = 7;
    theApp.SetEnv(&trickle);
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Send(HttpAnswer(""))}; });
    std::string body(1000, 'b');
    HttpClient client;
    EXPECT_EQ(client.Request(HttpMethod::Get, "127.0.0.1", peer.Port(), "/p", body.data(), body.size(),
                             nullptr, 10, nullptr, "S"),
              0);
    ASSERT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(kxtest::RequestBody(peer.Requests()[0]), body);
    EXPECT_GT(trickle.sends.load(), 100);
    theApp.SetEnv(&env);
}

// A peer that accepts the connection (the kernel does) and never reads: once the socket
// buffers are full, nothing more can be sent.
class DeafPeer {
public:
    DeafPeer() : fd_(kxtest::LoopbackListener(&port_)) {}
    ~DeafPeer() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int port_ = 0;
    int fd_;
};

TEST_F(HttpClientTest, APeerThatNeverReadsTheBodyEndsTheAttemptInsteadOfHoldingIt) {
    const std::string body(32 << 20, 'b'); // far more than both socket buffers hold
    {
        DeafPeer peer;
        ASSERT_GT(peer.Port(), 0);
        HttpClient client;
        trace.Clear();
        EXPECT_EQ(client.Request(HttpMethod::Put, "127.0.0.1", peer.Port(), "/contact/do/create", body.data(),
                                 body.size(), nullptr, 20, &theApp.CancelFlag, "S"),
                  -3);
        EXPECT_GE(trace.CountContaining("Function = SocketClient::Send GetLastError"), 1);
    }
    {
        // A cancel while the send is stuck ends it within a step, long before the time-out.
        DeafPeer peer;
        std::thread canceller = kxtest::CancelWhen([] { return true; }, 100);
        HttpClient client;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.Request(HttpMethod::Put, "127.0.0.1", peer.Port(), "/contact/do/create", body.data(),
                                 body.size(), nullptr, 1800 * 1000, &theApp.CancelFlag, "S"),
                  -6);
        canceller.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
}

struct FramingCase {
    const char* name;
    PeerScript script;
    int32_t expected;
    std::string body;
};

TEST_F(HttpClientTest, FramingAgainstAScriptedPeer) {
    const std::string head5 = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
    const FramingCase cases[] = {
        {"body split inside two deliveries",
         {PeerAction::Send(head5 + "ab"), PeerAction::Pause(40), PeerAction::Send("cde")},
         5,
         "abcde"},
        {"header split inside the blank line",
         {PeerAction::Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r"), PeerAction::Pause(40),
          PeerAction::Send("\nabcde")},
         5,
         "abcde"},
        {"no Content-Length", {PeerAction::Send("HTTP/1.1 200 OK\r\n\r\ntrailing bytes")}, 0, ""},
        {"error status answered as success", {PeerAction::Send(HttpAnswer("oops", 500))}, 4, "oops"},
        {"peer closes before the body is complete",
         {PeerAction::Send(head5 + "ab"), PeerAction::Close()},
         -4,
         ""},
        {"peer closes without answering", {PeerAction::Close()}, -4, ""},
    };
    for (const FramingCase& c : cases) {
        ScriptedPeer peer([&](int, const std::string&) { return c.script; });
        ByteArray response;
        EXPECT_EQ(Get(peer.Port(), 100, &response), c.expected) << c.name;
        EXPECT_EQ(Text(response), c.body) << c.name;
    }
}

TEST_F(HttpClientTest, ArgumentsAndConnectionFailures) {
    const struct {
        const char* host;
        int port;
        const char* path;
    } bad[] = {{nullptr, 80, "/"}, {"", 80, "/"}, {"127.0.0.1", 0, "/"}, {"127.0.0.1", 80, nullptr}};
    for (const auto& c : bad)
        EXPECT_EQ(HttpClient().Request(HttpMethod::Get, c.host, c.port, c.path, nullptr, 0, nullptr, 1,
                                       nullptr, nullptr),
                  -1);
    trace.Clear();
    EXPECT_EQ(Get(kxtest::UnusedPort(), 1), -2);
    EXPECT_EQ(trace.CountContaining("Connect Error, Try Again, Pls Wait..."), 3);
    EXPECT_EQ(trace.CountFunction("Connect Success."), 0);
}

TEST_F(HttpClientTest, LargeAnswerInManyDeliveriesArrivesIntact) {
    std::string body(3 << 20, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 23);
    ScriptedPeer peer([&](int, const std::string&) {
        PeerScript script{PeerAction::Send(HttpAnswer(body).substr(0, 100))};
        std::string rest = HttpAnswer(body).substr(100);
        for (size_t at = 0; at < rest.size(); at += 256 << 10)
            script.push_back(PeerAction::Send(rest.substr(at, 256 << 10)));
        return script;
    });
    ByteArray response;
    EXPECT_EQ(Get(peer.Port(), 100, &response), static_cast<int32_t>(body.size()));
    EXPECT_TRUE(Text(response) == body);
}

TEST_F(HttpClientTest, AnswersOverTheLimitEndTheExchange) {
    std::string endless(100 << 10, 'x'); // never a blank line
    ScriptedPeer streaming([&](int, const std::string&) {
        return PeerScript{PeerAction::Send(endless), PeerAction::Hold()};
    });
    HttpClient client;
    client.SetAnswerLimit(64 << 10);
    EXPECT_EQ(client.Request(HttpMethod::Get, "127.0.0.1", streaming.Port(), "/", nullptr, 0, nullptr, 100,
                             nullptr, "S"),
              -4);

    ScriptedPeer declaring([](int, const std::string&) {
        return PeerScript{PeerAction::Send("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\nabc"),
                          PeerAction::Hold()};
    });
    EXPECT_EQ(client.Request(HttpMethod::Get, "127.0.0.1", declaring.Port(), "/", nullptr, 0, nullptr, 100,
                             nullptr, "S"),
              -4);
}

TEST_F(HttpClientTest, SilenceUntilTheTimeOutChecksTheBridgeOnceAndGivesMinusFive) {
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Hold()}; });
    EXPECT_EQ(Get(peer.Port(), 3), -5);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>({"<-s><SER123><shell><date>"}));
    EXPECT_EQ(trace.CountBanner("[Wait Device Response Timeout, Check The Adb Response!!!]"), 1);
    EXPECT_EQ(trace.CountBanner("Adb Status OK, !!!!!!"), 1);
}

TEST_F(HttpClientTest, DeadBridgeDuringALongWaitGivesMinusFour) {
    adb.QueueExitCodes({0, 1});
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Hold()}; });
    EXPECT_EQ(Get(peer.Port(), 1800), -4);
    EXPECT_EQ(adb.Calls(), std::vector<std::string>(2, "<-s><SER123><shell><date>"));
    EXPECT_EQ(trace.CountBanner("Adb Status OK, !!!!!!"), 1);
    EXPECT_EQ(trace.CountBanner("[Adb Response Error !!!!]"), 1);
}

TEST_F(HttpClientTest, AnAnswerAfterOneBridgeCheckIsStillTaken) {
    theApp.SetTiming(kxtest::TestTiming(5));
    // Silent until the bridge has been checked once (however slowly the wait steps run on a
    // loaded machine), then the answer.
    ScriptedPeer peer([this](int, const std::string&) {
        for (int i = 0; i < 1000 && adb.Calls().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return PeerScript{PeerAction::Send(HttpAnswer("late"))};
    });
    ByteArray response;
    EXPECT_EQ(Get(peer.Port(), 1800, &response), 4);
    EXPECT_EQ(Text(response), "late");
    EXPECT_EQ(adb.Calls(), std::vector<std::string>({"<-s><SER123><shell><date>"}));
}

TEST_F(HttpClientTest, SilentExchangesShareOneBridgeCheck) {
    adb.SetSleepSeconds(0.4);
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Hold()}; });
    int32_t results[2] = {0, 0};
    std::thread other([&] { results[1] = Get(peer.Port(), 2, nullptr, nullptr, "B"); });
    results[0] = Get(peer.Port(), 2, nullptr, nullptr, "A");
    other.join();
    EXPECT_EQ(results[0], -5);
    EXPECT_EQ(results[1], -5);
    EXPECT_EQ(adb.Calls().size(), 1u);
    EXPECT_EQ(trace.CountBanner("[Adb Response Is Checking......]"), 1);
}

TEST_F(HttpClientTest, CancelWhileWaitingForAnotherExchangesBridgeCheckGivesMinusSix) {
    // Another exchange is running the bridge command (it may take its whole ten seconds).
    std::atomic<bool> holding{false}, release{false};
    std::thread checker([&] {
        std::lock_guard<std::mutex> hold(theApp.BridgeCheckLock);
        theApp.BridgeCheckInProgress = true;
        holding = true;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!release.load() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        theApp.BridgeCheckInProgress = false;
    });
    while (!holding.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ScriptedPeer peer([](int, const std::string&) { return PeerScript{PeerAction::Hold()}; });
    std::thread canceller = kxtest::CancelWhen(
        [this] { return trace.CountContaining("[Adb Response Is Checking......]") > 0; }, 0);
    int32_t r = Get(peer.Port(), 1800, nullptr, &theApp.CancelFlag);
    const bool checkStillRunning = !release.load();
    release = true;
    canceller.join();
    checker.join();
    EXPECT_EQ(r, -6);
    EXPECT_TRUE(checkStillRunning) << "the cancel waited for the other exchange's check";
    EXPECT_TRUE(adb.Calls().empty());
}

} // namespace
