#include "support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kxtest {

namespace {

void SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Bytes the request still needs: -1 while the header is incomplete.
long Missing(const std::string& r) {
    size_t end = r.find("\r\n\r\n");
    if (end == std::string::npos)
        return -1;
    size_t length = 0;
    size_t field = r.find("Content-Length:");
    if (field != std::string::npos && field < end)
        length = std::strtoul(r.c_str() + field + 15, nullptr, 10);
    long have = static_cast<long>(r.size() - end - 4);
    return static_cast<long>(length) - have;
}

} // namespace

std::string HttpAnswer(const std::string& body, int status) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Internal Server Error") +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string HeaderValue(const std::string& request, const std::string& name) {
    size_t end = request.find("\r\n\r\n");
    std::string header = request.substr(0, end);
    size_t at = header.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    at += name.size() + 3;
    return header.substr(at, header.find("\r\n", at) - at);
}

std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

std::string RequestBody(const std::string& request) {
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

int LoopbackListener(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

int UnusedPort() {
    int port = 1;
    ::close(LoopbackListener(&port)); // closed, the port refuses connections
    return port;
}

ScriptedPeer::ScriptedPeer(Handler handler) : handler_(std::move(handler)) {
    if (::pipe(wakeFds_) != 0)
        wakeFds_[0] = wakeFds_[1] = -1;
    listenFd_ = LoopbackListener(&port_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
    stopping_ = true; // the loops see the flag within their poll step, woken or not
    char c = 1;
    [[maybe_unused]] ssize_t woken = ::write(wakeFds_[1], &c, 1);
    if (acceptor_.joinable())
        acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> hold(lock_);
        workers.swap(workers_);
    }
    for (std::thread& t : workers)
        t.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

std::vector<std::string> ScriptedPeer::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

bool ScriptedPeer::WaitReadable(int fd, int ms) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    int rc = ::poll(p, 2, ms);
    if (rc <= 0 || stopping_.load())
        return false;
    return (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void ScriptedPeer::AcceptLoop() {
    while (!stopping_.load()) {
        if (!WaitReadable(listenFd_, 1000))
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::lock_guard<std::mutex> hold(lock_);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void ScriptedPeer::Serve(int fd) {
    std::string request;
    char buffer[65536];
    while (!stopping_.load() && Missing(request) != 0) {
        if (!WaitReadable(fd, 100))
            continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, static_cast<size_t>(n));
    }
    PeerScript script;
    {
        std::lock_guard<std::mutex> hold(lock_);
        int index = static_cast<int>(requests_.size());
        requests_.push_back(request);
        if (Missing(request) == 0)
            script = handler_(index, request);
    }
    for (const PeerAction& action : script) {
        if (stopping_.load())
            break;
        if (action.kind == PeerAction::kSend) {
            SendAll(fd, action.bytes);
        } else if (action.kind == PeerAction::kPause) {
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(action.ms);
            while (!stopping_.load() && std::chrono::steady_clock::now() < until) {
                pollfd p = {wakeFds_[0], POLLIN, 0};
                ::poll(&p, 1, 5);
            }
        } else if (action.kind == PeerAction::kClose) {
            break;
        } else if (action.kind == PeerAction::kHold) {
            // Until the client closes its end (or the peer stops).
            while (!stopping_.load()) {
                if (!WaitReadable(fd, 100))
                    continue;
                ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
            }
        }
    }
    ::close(fd);
}

} // namespace kxtest
