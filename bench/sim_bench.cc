// kxphone-sim figures: seeding a large phone (time, file size) and the rate of 50-contact reads
// it serves on loopback, with one and with two clients (the driver runs up to two at once).
//
//   ninja -C build-release sim_bench && build-release/bin/sim_bench [contacts] [events] [requests]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "seed.h"
#include "server.h"
#include "service.h"
#include "store.h"
#include "transport/payload_cipher.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// One request the way the driver sends it; the number of answer bytes (0 on failure).
size_t Exchange(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size_t total = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        static thread_local std::vector<char> buf(1 << 20);
        ssize_t n;
        while ((n = recv(fd, buf.data(), buf.size(), 0)) > 0)
            total += static_cast<size_t>(n);
    }
    close(fd);
    return total;
}

} // namespace

int main(int argc, char** argv) {
    const int contacts = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int events = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int requests = argc > 3 ? std::atoi(argv[3]) : 2000;
    std::string db = "/tmp/kxsim_bench_" + std::to_string(getpid()) + ".db";
    std::string error;

    auto t0 = Clock::now();
    std::unique_ptr<kxsim::Store> store = kxsim::Store::Open(db, &error);
    if (!store || !kxsim::Seed(*store, {contacts, events, 1}).ok) {
        fprintf(stderr, "seeding failed: %s\n", error.c_str());
        return 1;
    }
    double seedFile = Seconds(t0);
    store.reset(); // closing checkpoints the write-ahead log into the file
    long size = FileSize(db);
    store = kxsim::Store::Open(db, &error);
    kxsim::StoreCounts c = store->Counts();
    printf(
        "seed %d contacts + %d events into a file: %.2f s, %.1f MB (%lld data rows, %lld exception rows)\n",
        contacts, events, seedFile, size / 1e6, static_cast<long long>(c.dataRows),
        static_cast<long long>(c.exceptions));
    {
        auto t1 = Clock::now();
        std::unique_ptr<kxsim::Store> mem = kxsim::Store::Open(":memory:", &error);
        kxsim::Seed(*mem, {contacts, events, 1});
        printf("seed the same in memory: %.2f s\n", Seconds(t1));
    }

    kxsim::Server server(*store);
    if (!server.Start(0, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // Fifty ids from the middle of the phone, as one read batch of the driver.
    std::string body = "{\"objects\":[";
    for (int i = 0; i < 50; ++i)
        body += std::string(i ? "," : "") + "{\"__id\":\"" + std::to_string(contacts / 2 + i) + "\"}";
    body += "]}";
    std::string envelope = EncryptPayload(body.c_str());
    std::string request =
        "GET /contact/do/read HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:0000000001_bench\r\n"
        "Content-Length:" +
        std::to_string(envelope.size()) + "\r\n\r\n" + envelope;
    size_t answer = Exchange(server.port(), request);
    printf("one 50-contact answer: %zu bytes\n", answer);
    {
        // The same request without the network: store, JSON, envelope.
        kxsim::Service service(*store);
        auto t3 = Clock::now();
        const int n = requests / 4;
        for (int i = 0; i < n; ++i)
            service.Handle("GET", "/contact/do/read", envelope);
        printf("handler alone (store + JSON + envelope): %.2f ms per 50-contact read\n",
               1000 * Seconds(t3) / n);
    }

    for (int clients : {1, 2}) {
        std::atomic<int> failures{0};
        auto t2 = Clock::now();
        std::vector<std::thread> threads;
        for (int k = 0; k < clients; ++k)
            threads.emplace_back([&] {
                for (int i = 0; i < requests / clients; ++i)
                    if (Exchange(server.port(), request) == 0)
                        ++failures;
            });
        for (auto& t : threads)
            t.join();
        double s = Seconds(t2);
        printf("50-contact reads, %d client(s): %d requests in %.2f s = %.0f requests/s (%.2f ms each), %d "
               "failed\n",
               clients, requests, s, requests / s, 1000 * s / requests, failures.load());
    }
    server.Stop();
    store.reset();
    for (const char* suffix : {"", "-wal", "-shm"})
        std::remove((db + suffix).c_str());
    return 0;
}
