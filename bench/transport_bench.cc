// Transport figures: envelope throughput for 64 KB bodies, and the request engine's cost per
// exchange on loopback against a bare connect-send-receive round trip measured in the same run.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "driver/app.h"
#include "platform/format.h"
#include "transport/base64.h"
#include "transport/http_helper.h"
#include "transport/payload_cipher.h"

namespace {

// A JSON-like text of 64 KB, as a 50-contact read answer is.
std::string Body64k() {
    std::string text = "{\"status\":0,\"objects\":[";
    for (int i = 0; text.size() < 64 * 1024 - 64; ++i)
        text += "{\"__id\":\"" + std::to_string(i) + "\",\"data1\":\"Name " + std::to_string(i * 7919) +
                "\",\"mimetype\":\"vnd.android.cursor.item/name\"},";
    text.resize(64 * 1024 - 2);
    return text + "]}";
}

void BM_EnvelopeEncipher(benchmark::State& state) {
    const std::string body = Body64k();
    for (auto _ : state) {
        std::string envelope = EncryptPayload(body.c_str());
        benchmark::DoNotOptimize(envelope.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_EnvelopeEncipher);

void BM_EnvelopeDecipher(benchmark::State& state) {
    const std::string body = Body64k();
    const std::string envelope = EncryptPayload(body.c_str());
    for (auto _ : state) {
        std::string text = DecryptPayload(envelope.data(), envelope.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_EnvelopeDecipher);

// The base64 layers alone, over the ciphertext of the 64 KB body.
void BM_Base64Encode(benchmark::State& state) {
    const std::string body = Body64k();
    const std::string cipher = AesEncryptEcb(kPayloadKey, body.data(), body.size());
    for (auto _ : state) {
        std::string text = Base64Encode(cipher.data(), cipher.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(cipher.size()));
}
BENCHMARK(BM_Base64Encode);

void BM_Base64Decode(benchmark::State& state) {
    const std::string body = Body64k();
    const std::string cipher = AesEncryptEcb(kPayloadKey, body.data(), body.size());
    const std::string text = Base64Encode(cipher.data(), cipher.size());
    for (auto _ : state) {
        std::string bytes = Base64Decode(text.data(), text.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(cipher.size()));
}
BENCHMARK(BM_Base64Decode);

// A loopback server thread: reads one request per connection (header and "Content-Length"
// body), answers with a fixed body in one write, closes first.
class LoopbackServer {
public:
    explicit LoopbackServer(size_t answerBytes) {
        answer_ = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answerBytes) + "\r\n\r\n" +
                  std::string(answerBytes, 'a');
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 128) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Loop(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        if (thread_.joinable())
            thread_.join();
    }
    int Port() const { return port_; }

private:
    void Loop() {
        char buffer[65536];
        while (!stop_) {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0)
                continue;
            std::string request;
            for (;;) {
                ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
                size_t end = request.find("\r\n\r\n");
                if (end == std::string::npos)
                    continue;
                size_t field = request.find("Content-Length:");
                size_t length = field != std::string::npos && field < end
                                    ? std::strtoul(request.c_str() + field + 15, nullptr, 10)
                                    : 0;
                if (request.size() >= end + 4 + length)
                    break;
            }
            size_t done = 0;
            while (done < answer_.size()) {
                ssize_t n = ::send(c, answer_.data() + done, answer_.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            ::close(c);
        }
    }

    std::string answer_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// connect, one send, receive until the server closes: the floor of any exchange.
void BareRoundTrip(int port, const std::string& request) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[65536];
        while (::recv(s, buffer, sizeof buffer, 0) > 0) {
        }
    }
    ::close(s);
}

const char kBody[] = "c29tZSBlbnZlbG9wZSB0ZXh0IG9mIGEgcmVhZCByZXF1ZXN0";

void BM_BareRoundTrip(benchmark::State& state) {
    LoopbackServer server(static_cast<size_t>(state.range(0)));
    const std::string request = "GET /contact/do/read HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:x\r\n"
                                "Content-Length:" +
                                std::to_string(sizeof kBody - 1) + "\r\n\r\n" + kBody;
    for (auto _ : state)
        BareRoundTrip(server.Port(), request);
}
BENCHMARK(BM_BareRoundTrip)->Arg(64)->Arg(64 * 1024)->UseRealTime();

// One engine exchange = the main request and its "/session_ctrl" confirmation. The bare round
// trip is measured in the same run and the ratio reported per exchange of the engine.
void BM_EngineExchange(benchmark::State& state) {
    LoopbackServer server(static_cast<size_t>(state.range(0)));
    const std::string request = "GET /contact/do/read HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:x\r\n"
                                "Content-Length:" +
                                std::to_string(sizeof kBody - 1) + "\r\n\r\n" + kBody;
    const int kBare = 500;
    auto bareStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kBare; ++i)
        BareRoundTrip(server.Port(), request);
    const double bareUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - bareStart).count() /
        kBare;

    CHttpHelper helper;
    helper.SetIpAddressAndPort(platform::Format(u"http://127.0.0.1:%d", server.Port()));
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::unique_ptr<char[]> response;
        if (helper.httpRequestGet(u"/contact/do/read", &response, kBody, sizeof kBody - 1, 600) != 0)
            state.SkipWithError("request failed");
        benchmark::DoNotOptimize(response.get());
    }
    const double engineUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
        static_cast<double>(state.iterations());
    state.counters["bare_us"] = bareUs;
    state.counters["engine_us"] = engineUs;
    state.counters["ratio"] = engineUs / bareUs;
    state.counters["ratio_per_http"] = engineUs / (2 * bareUs); // the engine makes two round trips
}
BENCHMARK(BM_EngineExchange)->Arg(64)->Arg(64 * 1024)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
