// A raw loopback client speaking exactly the driver's request bytes, for the simulator tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "transport/payload_cipher.h"

namespace simtest {

struct Raw {
    bool connected = false;
    bool reset = false; // the read ended with an error (connection reset)
    int httpStatus = 0;
    std::string head, body;
    long declaredLength = -1;
};

// Sends bytes on a fresh connection, reads until the server closes.
// halfClose: end the sending side after the bytes (a peer that gives up mid-request).
inline Raw Exchange(int port, const std::string& bytes, bool halfClose = false) {
    Raw r;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return r;
    }
    r.connected = true;
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (halfClose)
        shutdown(fd, SHUT_WR);
    std::string all;
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0)
            r.reset = true;
        if (n <= 0)
            break;
        all.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    size_t end = all.find("\r\n\r\n");
    if (end == std::string::npos) {
        r.head = all;
        return r;
    }
    r.head = all.substr(0, end);
    r.body = all.substr(end + 4);
    if (r.head.size() > 12)
        r.httpStatus = std::atoi(r.head.c_str() + 9);
    size_t cl = r.head.find("Content-Length: ");
    if (cl != std::string::npos)
        r.declaredLength = std::atol(r.head.c_str() + cl + 16);
    return r;
}

// The driver's request: request line, "Cache-Control: no-cache", "SessionID:", and
// "Content-Length:" without a blank when there is a body. No Host header.
inline std::string DriverRequest(const std::string& method, const std::string& path, const std::string& body,
                                 const std::string& session = "0000001234_sid") {
    std::string r = method + " " + path + " HTTP/1.1\r\nCache-Control: no-cache\r\n";
    if (!session.empty())
        r += "SessionID:" + session + "\r\n";
    if (!body.empty())
        r += "Content-Length:" + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

inline std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

inline Json::Value Parse(const std::string& text) {
    Json::Value v;
    return Json::Reader().parse(text, v) ? v : Json::Value("<not JSON: " + text.substr(0, 80) + ">");
}

inline std::string Open(const std::string& envelope) {
    std::string plain = DecryptPayload(envelope.data(), envelope.size());
    plain.resize(std::strlen(plain.c_str()));
    return plain;
}

// One enciphered exchange; the answer document (a string value when it is not JSON).
inline Json::Value Call(int port, const std::string& method, const std::string& path,
                        const Json::Value* doc = nullptr, Raw* raw = nullptr) {
    std::string body = doc ? EncryptPayload(Compact(*doc).c_str()) : std::string();
    Raw r = Exchange(port, DriverRequest(method, path, body));
    if (raw != nullptr)
        *raw = r;
    return Parse(Open(r.body));
}

} // namespace simtest
