// What the transport needs from the layers above it, as one object of its own: the OS and the
// protocol's durations, the cancel flag, the task stamp of session ids, the service address and
// device serial, the coordination of bridge resets and health checks, and the request
// statistics. The application object is the process's context and installs itself; a test may
// install its own. Every member is safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <kxphone/kxphone.h>

#include "platform/env.h"
#include "platform/timing.h"

class TransportContext {
public:
    TransportContext() = default;
    virtual ~TransportContext() = default;
    TransportContext(const TransportContext&) = delete;
    TransportContext& operator=(const TransportContext&) = delete;

    // The installed context; a built-in one until something is installed. null uninstalls.
    static TransportContext& Current();
    static void Install(TransportContext* context);

    // The OS (the process's current Env) and the protocol's durations. Tests replace them before
    // any call; production never does.
    platform::Env* env() const { return platform::Env::Current(); }
    void SetEnv(platform::Env* env) { platform::Env::SetCurrent(env); }
    const platform::Timing& timing() const { return timing_; }
    void SetTiming(const platform::Timing& timing) { timing_ = timing; }

    // Sleeps count one-millisecond steps; 21 as soon as the cancel flag is seen, else 0.
    int MilliSleep(uint32_t count);

    // Renews TaskStamp from the tick count ("%010u_"). Called by Read, Write and ClearChangeLog
    // before any request of the call starts; the prefix of every session id.
    void RenewTaskStamp();
    std::u16string TaskStamp() const;

    // Where requests go ("http://host:port") and the bridge's device serial, as the host set them.
    void SetServiceAddress(const std::u16string& address);
    void SetDeviceSerial(const std::u16string& deviceSerial);
    std::u16string ServiceAddress() const;
    std::u16string DeviceSerial() const;

    // Request statistics in milliseconds (atomic totals).
    void ResetRequestStats();
    void AddRequestTime(bool withRetry, uint32_t ms);
    uint32_t StatsWithoutRetry() const { return statsWithoutRetry_.load(); }
    uint32_t StatsWithRetry() const { return statsWithRetry_.load(); }

    std::mutex ResetLock;       // one bridge reset at a time
    std::mutex BridgeCheckLock; // one bridge health check at a time
    std::atomic<bool> ResetInProgress{false};
    std::atomic<bool> BridgeCheckInProgress{false};
    std::atomic<int32_t> BridgeCheckResult{0};

    // While set, transfers and waits end early.
    std::atomic<bool> CancelFlag{false};

private:
    mutable std::mutex lock_; // task stamp and service settings
    std::u16string taskStamp_;
    std::u16string serviceAddress_;
    std::u16string deviceSerial_;
    std::atomic<uint32_t> statsWithoutRetry_{0};
    std::atomic<uint32_t> statsWithRetry_{0};
    platform::Timing timing_;
};
