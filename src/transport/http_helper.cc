#include "transport/http_helper.h"

#include <handsetcontrol.h>

#include <vector>

#include "platform/format.h"
#include "platform/text.h"
#include "trace/trace.h"
#include "transport/byte_array.h"
#include "transport/http_client.h"
#include "transport/text_encoding.h"
#include "transport/transport_context.h"

const char kBridgeProgramName[] = "adb";

// The four operations share one routine; they differ in the method and in these texts, which
// hosts' log readers know by heart, so every difference stays exactly as it has always been.
struct CHttpHelper::OperationTexts {
    HttpMethod method;
    const char16_t* caller;
    const char16_t* sendFail;
    const char16_t* resetting;
    const char16_t* sessionResetting;
};

namespace {

const char16_t kSendFailLine[] =
    u" #################### [Send Command Fail, Kill Service And Try Again] #################### \r\n";
const char16_t kSendFail[] =
    u" #################### [Send Command Fail, Kill Service And Try Again] #################### ";
const char16_t kSessionSendFail[] =
    u" #################### [ SID_CTRL Send Command Fail, Kill Service And Try Again] #################### ";

const CHttpHelper::OperationTexts kGet = {
    HttpMethod::Get, u"CHttpHelper::httpRequestGet", kSendFail,
    u" #################### [  Resetting Adb Service.......  ] #################### ",
    u" #################### [ SID_CTRL  Resetting Adb Service....... ] #################### "};
const CHttpHelper::OperationTexts kPut = {
    HttpMethod::Put, u"CHttpHelper::httpRequestPut", kSendFail,
    u" #################### [ Resetting Adb Service....... ] #################### ",
    u" #################### [ SID_CTRL  Resetting Adb Service....... ] #################### "};
const CHttpHelper::OperationTexts kPost = {
    HttpMethod::Post, u"CHttpHelper::httpRequestPost", kSendFail,
    u" #################### [ Resetting Adb Service....... ] #################### ",
    u" #################### [ SID_CTRL  Resetting Adb Service....... ] #################### "};
const CHttpHelper::OperationTexts kDelete = {
    HttpMethod::Delete, u"CHttpHelper::httpRequestDelete", kSendFailLine,
    u" #################### [ Resetting Adb Service...... ] #################### ",
    u" #################### [ SID_CTRL  Resetting Adb Service...... ] #################### "};

const int kTries = 6;

bool Cancelled() {
    return TransportContext::Current().CancelFlag.load();
}

} // namespace

CHttpHelper::CHttpHelper() : transferCancel_(&TransportContext::Current().CancelFlag) {}
CHttpHelper::~CHttpHelper() = default;

int32_t CHttpHelper::SetIpAddressAndPort(const std::u16string& url, int32_t) {
    // scheme://[user@]host[:port][/path...]; the host and port are kept, each within the 260
    // characters of the original buffers.
    const size_t kMaxPart = 259;
    size_t start = url.find(u"://");
    start = start == std::u16string::npos ? 0 : start + 3;
    size_t end = url.find_first_of(u"/?#", start);
    std::u16string authority =
        url.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    size_t at = authority.rfind(u'@');
    if (at != std::u16string::npos)
        authority.erase(0, at + 1);
    size_t colon = authority.rfind(u':');
    std::u16string host = authority.substr(0, colon);
    int64_t port = 0;
    if (colon != std::u16string::npos) {
        for (size_t i = colon + 1; i < authority.size() && authority[i] >= u'0' && authority[i] <= u'9';
             ++i) {
            port = port * 10 + (authority[i] - u'0');
            if (port > 65535)
                break;
        }
    }
    host_ = host.size() > kMaxPart ? std::u16string() : host;
    port_ = port > 65535 ? 0 : static_cast<int32_t>(port);
    return 0;
}

int32_t CHttpHelper::KillProcess(const char* name) {
    platform::Env* env = TransportContext::Current().env();
    std::vector<platform::ProcessEntry> processes;
    if (!env->ListProcesses(&processes)) {
        KX_ERROR_LINE(u"CHttpHelper::KillProcess");
        return 0;
    }
    for (const platform::ProcessEntry& p : processes) {
        if (!platform::EqualsNoCase(p.name, name))
            continue;
        if (env->TerminateProcess(p.pid))
            KX_TRACE_ERROR(u"CHttpHelper::KillProcess",
                           u" #################### [ Adb.exe Killed...] #################### ");
        else
            KX_ERROR_LINE(u"CHttpHelper::KillProcess");
    }
    return 1;
}

int32_t CHttpHelper::ResetBridge(const OperationTexts& op, bool sessionConfirmation) {
    TransportContext& ctx = TransportContext::Current();
    const platform::Timing timing = ctx.timing();
    if (ctx.ResetLock.try_lock()) {
        ctx.ResetInProgress = true;
        KX_TRACE_ERROR(op.caller, sessionConfirmation ? kSessionSendFail : op.sendFail);
        KillProcess();
        int32_t r = ctx.MilliSleep(timing.resetWaitMs);
        if (r != KX_STOPPED) {
            std::u16string command =
                platform::Format(u"-s %s forward tcp:%d tcp:8182", ctx.DeviceSerial().c_str(), port_);
            KX_RunAdbCmd(command.c_str(), static_cast<int32_t>(command.size()), nullptr, 0,
                         static_cast<int32_t>(timing.adbCommandTimeoutMs));
            r = ctx.MilliSleep(timing.resetWaitMs);
        }
        ctx.ResetInProgress = false;
        ctx.ResetLock.unlock();
        if (r == KX_STOPPED) {
            KX_ERROR_LINE(op.caller);
            return KX_STOPPED;
        }
        return 0;
    }
    // Another thread is resetting: let it finish, then retry without resetting again.
    KX_TRACE_ERROR(op.caller, sessionConfirmation ? op.sessionResetting : op.resetting);
    if (ctx.MilliSleep(timing.resetWaitMs) == KX_STOPPED) {
        KX_ERROR_LINE(op.caller);
        return KX_STOPPED;
    }
    while (ctx.ResetInProgress.load()) {
        if (ctx.MilliSleep(timing.resetPollMs) == KX_STOPPED) {
            KX_ERROR_LINE(op.caller);
            return KX_STOPPED;
        }
    }
    return 0;
}

int32_t CHttpHelper::Perform(const OperationTexts& op, const char16_t* path,
                             std::unique_ptr<char[]>* response, const char* body, size_t length,
                             uint32_t timeoutSeconds, size_t* responseLength) {
    TransportContext& ctx = TransportContext::Current();
    platform::Env* env = ctx.env();
    const platform::Timing timing = ctx.timing();
    const char16_t* caller = op.caller;

    // The clock is read once here and once at completion; attempts count their silence in
    // select steps, so nothing in between can see time run backwards.
    const uint32_t start = env->TickCount();
    std::u16string sessionId = platform::Format(u"%s%s_%010u", ctx.TaskStamp().c_str(),
                                                platform::Widen(env->NewUuid()).c_str(), start);
    KX_TRACE_INFO(caller, u"SID=" + sessionId);
    const std::string sid = platform::Narrow(sessionId);
    const std::string host = WideToUtf8(host_);
    const std::string target = path ? WideToUtf8(path) : std::string();
    const char* pathArg = path ? target.c_str() : nullptr;
    const bool withBody = body && length > 0;
    const std::string sessionPath = WideToUtf8(service::kSessionCtrl.path);

    HttpClient client;
    ByteArray answer;
    int outer = kTries, inner = kTries;
    for (;;) {
        // A cancel met here ends the operation as cancelled: nothing was answered.
        if (outer == 0 || Cancelled()) {
            KX_TRACE_ERROR(caller,
                           platform::Format(
                               u" #################### Retry End Or Cancel:%d #################### ", outer));
            return KX_STOPPED;
        }
        answer.Clear();
        int32_t r =
            client.Request(op.method, host.c_str(), port_, pathArg, withBody ? body : nullptr,
                           withBody ? length : 0, &answer, timeoutSeconds, transferCancel_, sid.c_str());
        if (r >= 0) {
            // Confirm the session; a confirmation that never succeeds does not undo the answer.
            while (inner > 0 && !Cancelled()) {
                int32_t c = client.Request(
                    service::kSessionCtrl.method, host.c_str(), port_, sessionPath.c_str(), nullptr, 0,
                    nullptr, service::kSessionCtrl.timeoutSeconds, &ctx.CancelFlag, sid.c_str());
                if (c >= 0)
                    break;
                --inner;
                KX_ERROR_LINE(caller);
                if (inner < 1 || Cancelled()) {
                    KX_TRACE_ERROR(
                        caller,
                        platform::Format(
                            u" #################### Retry End Or Cancel:%d #################### ", outer));
                    break;
                }
                if (inner % 2 == 0 && ctx.MilliSleep(timing.retryBackoffMs) == KX_STOPPED) {
                    KX_ERROR_LINE(caller);
                    return KX_STOPPED;
                }
                if (ResetBridge(op, true) == KX_STOPPED)
                    return KX_STOPPED;
            }
            break;
        }
        KX_ERROR_LINE(caller);
        --outer;
        if (outer < 1 || Cancelled()) {
            KX_TRACE_ERROR(caller,
                           platform::Format(
                               u" #################### Retry End Or Cancel:%d #################### ", outer));
            return r;
        }
        if (outer % 2 == 0 && ctx.MilliSleep(timing.retryBackoffMs) == KX_STOPPED) {
            KX_ERROR_LINE(caller);
            return KX_STOPPED;
        }
        if (ResetBridge(op, false) == KX_STOPPED)
            return KX_STOPPED;
    }

    const uint32_t elapsed = env->TickCount() - start;
    if (outer == kTries && inner == kTries) {
        KX_TRACE_INFO(
            caller,
            platform::Format(u" #################### [ Done Without Retry, Time:%u ] #################### ",
                             elapsed));
        ctx.AddRequestTime(false, elapsed);
    } else {
        KX_TRACE_INFO(
            caller,
            platform::Format(
                u" #################### [ Done With Retry [%d/6] [%d/6], Time:%u ] #################### ",
                kTries - outer, kTries - inner, elapsed));
        ctx.AddRequestTime(true, elapsed);
    }
    size_t n = 0;
    std::unique_ptr<char[]> bytes = answer.Release(&n);
    if (response)
        *response = std::move(bytes);
    if (responseLength)
        *responseLength = n;
    return 0;
}

int32_t CHttpHelper::httpRequest(HttpMethod method, const char16_t* path, std::unique_ptr<char[]>* response,
                                 const char* body, size_t length, uint32_t timeoutSeconds,
                                 size_t* responseLength) {
    const OperationTexts* op = &kGet;
    switch (method) {
    case HttpMethod::Get:
        op = &kGet;
        break;
    case HttpMethod::Put:
        op = &kPut;
        break;
    case HttpMethod::Post:
        op = &kPost;
        break;
    case HttpMethod::Delete:
        op = &kDelete;
        break;
    }
    return Perform(*op, path, response, body, length, timeoutSeconds, responseLength);
}

int32_t CHttpHelper::httpRequestGet(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                                    size_t length, uint32_t timeoutSeconds, size_t* responseLength) {
    return Perform(kGet, path, response, body, length, timeoutSeconds, responseLength);
}

int32_t CHttpHelper::httpRequestPut(const char16_t* path, std::unique_ptr<char[]>* response, const char* body,
                                    size_t length, uint32_t timeoutSeconds, size_t* responseLength) {
    return Perform(kPut, path, response, body, length, timeoutSeconds, responseLength);
}

int32_t CHttpHelper::httpRequestPost(const char16_t* path, std::unique_ptr<char[]>* response,
                                     const char* body, size_t length, uint32_t timeoutSeconds,
                                     size_t* responseLength) {
    return Perform(kPost, path, response, body, length, timeoutSeconds, responseLength);
}

int32_t CHttpHelper::httpRequestDelete(const char16_t* path, std::unique_ptr<char[]>* response,
                                       const char* body, size_t length, uint32_t timeoutSeconds,
                                       size_t* responseLength) {
    return Perform(kDelete, path, response, body, length, timeoutSeconds, responseLength);
}
