#include "transport/socket_client.h"

#include <handsetcontrol.h>

#include "platform/format.h"
#include "trace/trace.h"
#include "transport/byte_array.h"
#include "transport/transport_context.h"

namespace {
const char16_t kRecv[] = u"SocketClient::Recv";
const int kLingerSeconds = 30;
} // namespace

int32_t SocketClient::Connect(const char* host, int32_t port) {
    platform::Env* env = TransportContext::Current().env();
    if (!host || port < 1 || port > 65535) {
        KX_ERROR_LINE(u"SocketClient::Connect");
        return -3;
    }
    Close();
    int fd = env->SocketOpen();
    if (fd < 0) {
        KX_ERROR_LINE(u"SocketClient::Connect");
        return -1;
    }
    if (env->SocketSetLinger(fd, true, kLingerSeconds) != 0)
        KX_ERROR_LINE(u"SocketClient::Connect");
    if (env->SocketConnect(fd, host, port) != 0) {
        KX_ERROR_LINE(u"SocketClient::Connect");
        env->SocketClose(fd);
        return -2;
    }
    fd_ = fd;
    host_ = host;
    port_ = port;
    return 0;
}

int32_t SocketClient::Send(const char* data, size_t length, uint32_t timeoutSteps,
                           const std::atomic<bool>* cancel) {
    platform::Env* env = TransportContext::Current().env();
    int error = 0;
    if (fd_ < 0 || env->SocketPendingError(fd_, &error) != 0 || error != 0) {
        KX_ERROR_LINE(u"SocketClient::Send");
        return -1;
    }
    if (!data || length == 0) {
        KX_ERROR_LINE(u"SocketClient::Send");
        return -1;
    }
    // A stream socket may take fewer bytes than offered; that is not a failure. Waiting for room
    // goes in select steps, so a cancel is seen and a peer that never reads cannot hold us.
    const int stepMs = static_cast<int>(TransportContext::Current().timing().selectStepMs);
    uint32_t stalled = 0;
    size_t done = 0;
    while (done < length) {
        if (cancel && cancel->load()) {
            KX_ERROR_LINE(u"SocketClient::Send");
            return -1;
        }
        long n = env->SocketSendWithin(fd_, data + done, length - done, stepMs);
        if (n < 0) {
            KX_ERROR_LINE(u"SocketClient::Send");
            return -1;
        }
        if (n == 0) {
            if (++stalled >= timeoutSteps) {
                KX_ERROR_LINE(u"SocketClient::Send");
                return -1;
            }
            continue;
        }
        stalled = 0;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int32_t SocketClient::Select(uint32_t steps, const std::atomic<bool>* cancel, uint32_t* waited) {
    TransportContext& ctx = TransportContext::Current();
    platform::Env* env = ctx.env();
    const int stepMs = static_cast<int>(ctx.timing().selectStepMs);
    uint32_t i = 0;
    int32_t result = 1;
    for (; i < steps; ++i) {
        if (cancel && cancel->load())
            break;
        int r = env->SocketWaitReadable(fd_, stepMs);
        if (r < 0) {
            KX_ERROR_LINE(u"SocketClient::Select");
            result = -1;
            break;
        }
        if (r > 0) {
            result = 0;
            break;
        }
    }
    if (waited)
        *waited = i;
    return result;
}

int32_t SocketClient::CheckBridge(const std::atomic<bool>* cancel) {
    TransportContext& ctx = TransportContext::Current();
    platform::Env* env = ctx.env();
    const platform::Timing& timing = ctx.timing();
    if (ctx.BridgeCheckLock.try_lock()) {
        ctx.BridgeCheckInProgress = true;
        std::u16string command = platform::Format(u"-s %s shell date", ctx.DeviceSerial().c_str());
        int32_t rc = KX_RunAdbCmd(command.c_str(), static_cast<int32_t>(command.size()), nullptr, 0,
                                  static_cast<int32_t>(timing.adbCommandTimeoutMs));
        if (rc != 0) {
            KX_TRACE_ERROR(kRecv, u" #################### [Adb Response Error !!!!] #################### ");
            KX_ERROR_LINE(kRecv);
            ctx.BridgeCheckResult = -1;
        } else {
            ctx.BridgeCheckResult = 0;
            KX_TRACE_INFO(kRecv, u" #################### Adb Status OK, !!!!!! #################### ");
        }
        int32_t result = ctx.BridgeCheckResult.load();
        ctx.BridgeCheckInProgress = false;
        ctx.BridgeCheckLock.unlock();
        return result;
    }
    // Another exchange is asking the bridge already: wait for its answer and share it. The
    // wait may last the whole bridge command; a cancel ends it (the caller then sees the flag).
    KX_TRACE_INFO(kRecv, u" #################### [Adb Response Is Checking......] #################### ");
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    const uint32_t pollMs = timing.bridgeCheckPollMs ? timing.bridgeCheckPollMs : 1;
    for (uint32_t waited = 0; waited < timing.bridgeCheckFirstWaitMs && !cancelled(); waited += pollMs)
        env->SleepMillis(pollMs);
    while (ctx.BridgeCheckInProgress.load() && !cancelled())
        env->SleepMillis(pollMs);
    return cancelled() ? 0 : ctx.BridgeCheckResult.load();
}

int32_t SocketClient::Recv(ByteArray* into, size_t* received, uint32_t timeoutSeconds,
                           const std::atomic<bool>* cancel, size_t limit, uint32_t* waited) {
    TransportContext& ctx = TransportContext::Current();
    platform::Env* env = ctx.env();
    const uint32_t window = ctx.timing().bridgeCheckAfterSteps;
    uint32_t steps = timeoutSeconds <= window ? timeoutSeconds : window;
    *received = 0;
    *waited = 0;
    int32_t r = Select(steps, cancel, waited);
    if (r > 0) {
        // A cancelled wait needs no bridge check: the exchange ends anyway.
        if (cancel && cancel->load())
            return 0;
        KX_TRACE_ERROR(kRecv, u" #################### [Wait Device Response Timeout, Check The Adb "
                              u"Response!!!] #################### ");
        return CheckBridge(cancel);
    }
    if (r < 0) {
        KX_ERROR_LINE(kRecv);
        return -1;
    }
    int error = 0;
    if (env->SocketPendingError(fd_, &error) != 0 || error != 0) {
        KX_ERROR_LINE(kRecv);
        return -1;
    }
    long pending = 0;
    if (env->SocketPendingBytes(fd_, &pending) != 0 || pending <= 0) {
        // Readable with nothing pending: the peer closed the connection.
        KX_ERROR_LINE(kRecv);
        return -1;
    }
    size_t count = static_cast<size_t>(pending);
    if (into->Size() > limit || count > limit - into->Size()) {
        KX_TRACE_ERROR(
            kRecv, platform::Format(u"answer larger than %u bytes, giving up", static_cast<unsigned>(limit)));
        KX_ERROR_LINE(kRecv);
        return -1;
    }
    long n = env->SocketRecv(fd_, into->Tail(count), count);
    if (n < 0 || static_cast<size_t>(n) != count) {
        KX_ERROR_LINE(kRecv);
        return -1;
    }
    into->Commit(count);
    *received = count;
    return 0;
}

int32_t SocketClient::Close() {
    if (fd_ >= 0) {
        platform::Env* env = TransportContext::Current().env();
        if (env->SocketSetLinger(fd_, false, 0) != 0)
            KX_ERROR_LINE(u"SocketClient::Close");
        env->SocketClose(fd_);
        fd_ = -1;
    }
    port_ = 0;
    host_.clear();
    return 0;
}
