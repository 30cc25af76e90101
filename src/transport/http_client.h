// A small HTTP/1.1 client for the handset service: one request per fresh TCP connection, the
// exact request bytes the service expects (nothing but "Cache-Control", "SessionID" and
// "Content-Length"), sent with one write; the answer is collected until its "Content-Length"
// is satisfied. The status line is never looked at: any status is an answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "transport/service_request.h"
#include "transport/socket_client.h"

class ByteArray;

class HttpClient {
public:
    // Results of Request besides the body length (0 or more).
    enum : int32_t {
        kBadArguments = -1, // host null or empty, port below 1, path null
        kNoConnection = -2, // three connection attempts failed
        kSendFailed = -3,   // a send error, or no room to send for the time-out
        kRecvFailed = -4,   // socket error, closed peer, failed bridge check, answer over the limit
        kTimedOut = -5,     // nothing received for the time-out
        kCancelled = -6,    // the cancel flag was seen while sending or receiving
    };
    // Answers larger than this end the exchange with kRecvFailed.
    static constexpr size_t kMaxAnswerBytes = size_t(256) << 20;

    HttpClient() = default;
    ~HttpClient() { socket_.Close(); }

    // One exchange. response null: the answer is only waited for. timeoutSeconds: the longest
    // silence, and the longest stall of the send, counted in select steps. cancel and sessionId may be null.
    // Result: the body length (the body is appended to response), or one of the negative codes above.
    int32_t Request(HttpMethod method, const char* host, int32_t port, const char* path, const char* body,
                    size_t bodyLength, ByteArray* response, uint32_t timeoutSeconds,
                    const std::atomic<bool>* cancel, const char* sessionId);

    // Lowers the answer limit (tests).
    void SetAnswerLimit(size_t limit) { limit_ = limit; }

    // Completeness of the bytes received so far. Result: the body length when complete (that
    // many bytes, starting after the blank line, are appended to response when given); -1 the
    // header is not complete; -2 the body is not complete; -4 the declared length passes the
    // answer limit.
    static int32_t HttpPkgFinished(const char* bytes, size_t length, ByteArray* response);

    // The same test resumable over a growing buffer: each call looks only at what is new.
    struct PkgScan {
        size_t searchFrom = 0; // where the search for the blank line goes on
        size_t bodyStart = 0;  // 0 until the header is complete
        size_t bodyLength = 0;
    };
    static int32_t HttpPkgScan(const char* bytes, size_t length, PkgScan* scan, size_t limit);

private:
    SocketClient socket_;
    size_t limit_ = kMaxAnswerBytes;
};
