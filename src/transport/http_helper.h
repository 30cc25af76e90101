// CHttpHelper: the one door to the handset service. Each piece of work makes its own on the
// stack, points it at the phone's BaseUrl and calls a request operation; the operation stamps a
// session id, sends through HttpClient, retries with bridge resets, confirms the session with
// "/session_ctrl" and hands back the answer body. Helpers may run on several threads at once;
// only the bridge reset (ResetLock) and the request statistics are shared.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/service_request.h"

// The bridge program every reset kills (compared ignoring case).
extern const char kBridgeProgramName[];

class CHttpHelper {
public:
    CHttpHelper();
    ~CHttpHelper();
    CHttpHelper(const CHttpHelper&) = delete;
    CHttpHelper& operator=(const CHttpHelper&) = delete;

    // Takes host and port out of a URL such as "http://127.0.0.1:8182" (no port, or one out of
    // range, gives 0; no host leaves it empty, so every attempt fails with -1). Always 0.
    int32_t SetIpAddressAndPort(const std::u16string& url, int32_t ignored = 0);
    const std::u16string& Host() const { return host_; }
    // The flag that ends an exchange in flight: the context's cancel flag unless set here (null:
    // the exchange always runs to its end; the cancel flag still ends the waits between attempts).
    void SetTransferCancel(const std::atomic<bool>* cancel) { transferCancel_ = cancel; }
    int32_t Port() const { return port_; }

    // The request operations. path: absolute path with optional query. body/length: sent only
    // when body is non-null and length non-zero. timeoutSeconds: the longest silence tolerated.
    // Result 0: answered; *response (when given) receives the body followed by one NUL, and
    // *responseLength (when given) its length without the NUL. 21: cancelled in a wait or seen at
    // the top of the retry loop. Negative (-1..-6, HttpClient): the last of six failed attempts,
    // or a failure that met the cancel flag. On any result but 0 the outputs stay untouched.
    int32_t httpRequestGet(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                           size_t length, uint32_t timeoutSeconds, size_t* responseLength = nullptr);
    int32_t httpRequestPut(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                           size_t length, uint32_t timeoutSeconds, size_t* responseLength = nullptr);
    int32_t httpRequestPost(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                            size_t length, uint32_t timeoutSeconds, size_t* responseLength = nullptr);
    int32_t httpRequestDelete(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                              size_t length, uint32_t timeoutSeconds, size_t* responseLength = nullptr);
    // The operation for a method (the service frame picks it from its table).
    int32_t httpRequest(HttpMethod method, const char16_t* path, std::unique_ptr<char[]>* response,
                        const char* body, size_t length, uint32_t timeoutSeconds,
                        size_t* responseLength = nullptr);

    // Terminates every process of that name (ignoring case), tracing each kill. 1 when the
    // process list could be read, else 0. Called by the reset under ResetLock only.
    int32_t KillProcess(const char* name = kBridgeProgramName);

    // Per-operation trace texts; public only so the table can live beside the routine.
    struct OperationTexts;

private:
    int32_t Perform(const OperationTexts& op, const char16_t* path, std::unique_ptr<char[]>* response,
                    const char* body, size_t length, uint32_t timeoutSeconds, size_t* responseLength);
    // The shared bridge reset: 0, or 21 when a wait was cancelled.
    int32_t ResetBridge(const OperationTexts& op, bool sessionConfirmation);

    std::u16string host_;
    int32_t port_ = 0;
    const std::atomic<bool>* transferCancel_;
};
