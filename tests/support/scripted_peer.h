// A scripted HTTP peer on 127.0.0.1 (ephemeral port) for transport tests. Each connection's
// request is read whole (header and "Content-Length" body), recorded, and answered by the
// script the handler returns for it: bytes, pauses, a close, or silence until the client goes.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxtest {

struct PeerAction {
    enum Kind { kSend, kPause, kClose, kHold };
    Kind kind = kSend;
    std::string bytes;
    int ms = 0;

    static PeerAction Send(std::string bytes) { return {kSend, std::move(bytes), 0}; }
    static PeerAction Pause(int ms) { return {kPause, {}, ms}; }
    // Ends the connection at once (the rest of the script is dropped).
    static PeerAction Close() { return {kClose, {}, 0}; }
    // Answers nothing and keeps the connection until the client closes it or the peer stops.
    static PeerAction Hold() { return {kHold, {}, 0}; }
};
using PeerScript = std::vector<PeerAction>;

// "HTTP/1.1 <status> <reason>\r\nContent-Length: <n>\r\n\r\n<body>" (status 200 or 500).
std::string HttpAnswer(const std::string& body, int status = 200);

// The value of a request header ("SessionID"), empty when absent; the request line.
std::string HeaderValue(const std::string& request, const std::string& name);
std::string RequestLine(const std::string& request);
// The bytes after the blank line.
std::string RequestBody(const std::string& request);

// A loopback port nobody listens on (connections are refused).
int UnusedPort();
// A socket listening on 127.0.0.1 at an ephemeral port (its number into *port); -1 on failure.
int LoopbackListener(int* port);

class ScriptedPeer {
public:
    // index counts requests from 0 in the order they were read; calls are serialised.
    using Handler = std::function<PeerScript(int index, const std::string& request)>;

    explicit ScriptedPeer(Handler handler);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int Port() const { return port_; }
    // Raw bytes of every request read so far.
    std::vector<std::string> Requests() const;
    int Connections() const { return connections_.load(); }

private:
    void AcceptLoop();
    void Serve(int fd);
    bool WaitReadable(int fd, int ms);

    Handler handler_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

} // namespace kxtest
