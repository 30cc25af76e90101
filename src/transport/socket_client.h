// The TCP layer of the HTTP client: one IPv4 stream connection to the local end of the bridge
// forward, reached only through the transport context's Env. While the handset is silent, Recv checks that
// the bridge still answers (one thread at a time, under BridgeCheckLock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class ByteArray;

class SocketClient {
public:
    SocketClient() = default;
    ~SocketClient() { Close(); }
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    // 0; -1 no socket; -2 connect failed; -3 host null or port out of range.
    int32_t Connect(const char* host, int32_t port);
    // Sends every byte (partial sends are resumed). 0, or -1: an error, no room to send for
    // timeoutSteps select steps in a row (a peer that stops reading), or *cancel seen.
    int32_t Send(const char* data, size_t length, uint32_t timeoutSteps, const std::atomic<bool>* cancel);
    // Waits up to steps select steps for the socket to become readable, ending early when
    // *cancel is set. 0 readable, 1 nothing arrived (or cancelled), -1 error. *waited (when
    // given) receives the steps spent waiting.
    int32_t Select(uint32_t steps, const std::atomic<bool>* cancel, uint32_t* waited = nullptr);
    // Waits for data (at most min(timeout, the bridge-check window) steps) and appends what is
    // pending to into. Silence for the whole window runs the bridge health check: 0 when the
    // bridge answers (nothing received, *received = 0, *waited = the silent steps), -1 when it
    // does not. -1 also for a socket error, a closed peer, or an answer that would pass limit.
    int32_t Recv(ByteArray* into, size_t* received, uint32_t timeoutSeconds, const std::atomic<bool>* cancel,
                 size_t limit, uint32_t* waited);
    // Always 0; a no-op on a closed socket.
    int32_t Close();

    bool IsOpen() const { return fd_ >= 0; }

private:
    // 0 the bridge answers (or a cancel ended the wait for another exchange's check), -1 not.
    int32_t CheckBridge(const std::atomic<bool>* cancel);

    std::string host_;
    int32_t port_ = 0;
    int fd_ = -1;
};
