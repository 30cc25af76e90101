#include "transport/http_client.h"

#include <cstring>
#include <string>
#include <string_view>

#include "trace/trace.h"
#include "transport/byte_array.h"
#include "transport/transport_context.h"

namespace {

const char16_t kRequest[] = u"HttpClient::Request";
const size_t kReserveBytes = size_t(16) << 20;
const char16_t kPkgFinished[] = u"HttpClient::HttpPkgFinished";

const char* RequestLineStart(HttpMethod method) {
    switch (method) {
    case HttpMethod::Get:
        return "GET ";
    case HttpMethod::Put:
        return "PUT ";
    case HttpMethod::Post:
        return "POST ";
    case HttpMethod::Delete:
        return "DELETE ";
    }
    return "GET ";
}

void Append(ByteArray* a, const char* text) {
    a->AppendData(text, std::strlen(text));
}

} // namespace

int32_t HttpClient::HttpPkgScan(const char* b, size_t n, PkgScan* scan, size_t limit) {
    if (scan->bodyStart == 0) {
        std::string_view all(b, n);
        size_t end = all.find("\r\n\r\n", scan->searchFrom);
        if (end == std::string_view::npos) {
            // The blank line may straddle this delivery and the next.
            scan->searchFrom = n > 3 ? n - 3 : 0;
            KX_ERROR_LINE(kPkgFinished);
            return -1;
        }
        size_t headerLength = end + 2; // keeps the first CR LF
        scan->bodyStart = headerLength + 2;
        scan->bodyLength = 0;
        static const char kField[] = "Content-Length:";
        const size_t fieldLength = sizeof kField - 1;
        size_t field = all.substr(0, headerLength).find(kField);
        if (field != std::string_view::npos) {
            // Any number of blanks may follow the colon; the digits end at the first non-digit.
            const char* p = b + field + fieldLength;
            const char* headerEnd = b + headerLength;
            while (p < headerEnd && (*p == ' ' || *p == '\t'))
                ++p;
            uint64_t value = 0;
            for (; p < headerEnd && *p >= '0' && *p <= '9'; ++p) {
                value = value * 10 + static_cast<uint64_t>(*p - '0');
                if (value > limit)
                    break;
            }
            if (value > limit) {
                KX_ERROR_LINE(kPkgFinished);
                return -4;
            }
            scan->bodyLength = static_cast<size_t>(value);
        }
    }
    if (n - scan->bodyStart < scan->bodyLength)
        return -2;
    return static_cast<int32_t>(scan->bodyLength);
}

int32_t HttpClient::HttpPkgFinished(const char* bytes, size_t length, ByteArray* response) {
    PkgScan scan;
    int32_t r = HttpPkgScan(bytes, length, &scan, kMaxAnswerBytes);
    if (r > 0 && response)
        response->AppendData(bytes + scan.bodyStart, static_cast<size_t>(r));
    return r;
}

int32_t HttpClient::Request(HttpMethod method, const char* host, int32_t port, const char* path,
                            const char* body, size_t bodyLength, ByteArray* response, uint32_t timeoutSeconds,
                            const std::atomic<bool>* cancel, const char* sessionId) {
    if (!host || !*host || port < 1 || !path) {
        KX_ERROR_LINE(kRequest);
        return kBadArguments;
    }
    socket_.Close();
    bool connected = false;
    for (int tries = 3; tries > 0; --tries) {
        if (cancel && cancel->load())
            break;
        if (socket_.Connect(host, port) == 0) {
            connected = true;
            break;
        }
        kxtrace::Output(u"Connect Error, Try Again, Pls Wait...\r\n");
    }
    if (!connected) {
        KX_ERROR_LINE(kRequest);
        socket_.Close();
        return kNoConnection;
    }
    KX_TRACE_INFO(kRequest, u"Connect Success.");

    // Header and body leave in one write: split writes cost a delayed ACK per request.
    const bool withBody = body && bodyLength > 0;
    ByteArray request;
    request.Reserve(std::strlen(path) + (sessionId ? std::strlen(sessionId) : 0) + 96 +
                    (withBody ? bodyLength : 0));
    Append(&request, RequestLineStart(method));
    Append(&request, path);
    Append(&request, " HTTP/1.1\r\n");
    Append(&request, "Cache-Control: no-cache\r\n");
    if (sessionId) {
        Append(&request, "SessionID:");
        if (*sessionId)
            Append(&request, sessionId);
        Append(&request, "\r\n");
    }
    if (withBody) {
        std::string length = "Content-Length:" + std::to_string(bodyLength) + "\r\n";
        Append(&request, length.c_str());
    }
    Append(&request, "\r\n");
    if (withBody)
        request.AppendData(body, bodyLength);
    // The time-out bounds a stalled send as it bounds silence: a peer that stops reading a large
    // body fails the attempt instead of holding it forever.
    if (socket_.Send(request.Data(), request.Size(), timeoutSeconds, cancel) != 0) {
        KX_ERROR_LINE(kRequest);
        socket_.Close();
        return cancel && cancel->load() ? kCancelled : kSendFailed;
    }

    ByteArray received;
    PkgScan scan;
    bool reserved = false;
    uint32_t silentSteps = 0;
    while (!(cancel && cancel->load())) {
        size_t got = 0;
        uint32_t waited = 0;
        if (socket_.Recv(&received, &got, timeoutSeconds, cancel, limit_, &waited) != 0) {
            KX_ERROR_LINE(kRequest);
            socket_.Close();
            return kRecvFailed;
        }
        if (got > 0) {
            silentSteps = 0;
            int32_t r = HttpPkgScan(received.Data(), received.Size(), &scan, limit_);
            if (r >= 0) {
                socket_.Close();
                if (response && r > 0) {
                    if (response->Empty()) {
                        received.Keep(scan.bodyStart, static_cast<size_t>(r));
                        *response = std::move(received);
                    } else {
                        response->AppendData(received.Data() + scan.bodyStart, static_cast<size_t>(r));
                    }
                }
                return r;
            }
            if (r == -4) {
                KX_ERROR_LINE(kRequest);
                socket_.Close();
                return kRecvFailed;
            }
            // The header names the body's length: room for all of it (and the NUL the engine adds)
            // at once, rather than growing by halves as it arrives; a length past kReserveBytes is
            // not taken on trust (the bytes may never come), the rest grows as before.
            if (r == -2 && !reserved) {
                reserved = true;
                const size_t whole = scan.bodyStart + scan.bodyLength + 1;
                if (whole > received.Size() && whole <= kReserveBytes)
                    received.Reserve(whole - received.Size());
            }
            continue;
        }
        silentSteps += waited;
        if (silentSteps >= timeoutSeconds) {
            KX_ERROR_LINE(kRequest);
            socket_.Close();
            return kTimedOut;
        }
    }
    KX_ERROR_LINE(kRequest);
    socket_.Close();
    return kCancelled;
}
