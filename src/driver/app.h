// The application object: everything process-wide lives here (task stamp, locks, flags,
// callbacks, request statistics, write state, the AuxSyncModule handle) next to the one phone
// object. Built when the library loads, destroyed when it unloads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <kxphone/kxphone.h>

#include "driver/fake_phone.h"
#include "platform/env.h"
#include "platform/timing.h"

// AuxSyncModule entries: (data type, the operation's second argument) -> result.
typedef int32_t(KX_STDCALL* KXAuxEntry)(int32_t type, uintptr_t param);

class CKXPhoneApp {
public:
    CKXPhoneApp();
    ~CKXPhoneApp();
    CKXPhoneApp(const CKXPhoneApp&) = delete;
    CKXPhoneApp& operator=(const CKXPhoneApp&) = delete;

    bool InitInstance();
    int ExitInstance();

    // Sleeps count one-millisecond steps; 21 as soon as the cancel flag is seen, else 0.
    int MilliSleep(uint32_t count);

    // The OS and the protocol's durations. Tests replace them before any call; production never does.
    platform::Env* env() const { return env_.load(); }
    void SetEnv(platform::Env* env) { env_.store(env ? env : platform::Env::Default()); }
    const platform::Timing& timing() const { return timing_; }
    void SetTiming(const platform::Timing& timing) { timing_ = timing; }

    // Renews TaskStamp from the tick count ("%010u_"). Called by Read, Write and ClearChangeLog
    // before any request of the call starts; read by the transport.
    void RenewTaskStamp();
    std::u16string TaskStamp() const;

    // Request statistics in milliseconds, guarded by ResetLock.
    void ResetRequestStats();
    void AddRequestTime(bool withRetry, uint32_t ms);
    uint32_t StatsWithoutRetry() const { return statsWithoutRetry_.load(); }
    uint32_t StatsWithRetry() const { return statsWithRetry_.load(); }

    // AuxSyncModule: loaded next to the driver on demand, released by UninitSync.
    void LoadAuxModule();
    void ReleaseAuxModule();
    KXAuxEntry AuxRead() const { return auxRead_.load(); }
    KXAuxEntry AuxWrite() const { return auxWrite_.load(); }
    KXAuxEntry AuxStop() const { return auxStop_.load(); }

    // Operations that run now; Stop raises the cancel flag only while one does.
    struct Running {
        explicit Running(CKXPhoneApp& app) : app_(app) { ++app_.runningOperations; }
        ~Running() { --app_.runningOperations; }
        CKXPhoneApp& app_;
    };

    std::mutex ResetLock;       // one bridge reset at a time; guards RequestStats
    std::mutex BridgeCheckLock; // one bridge health check at a time
    std::atomic<bool> ResetInProgress{false};
    std::atomic<bool> BridgeCheckInProgress{false};
    std::atomic<int32_t> BridgeCheckResult{0};

    std::atomic<bool> CancelFlag{false};
    std::atomic<int> runningOperations{0};

    std::atomic<KXRecordCallback> RecordCallback{nullptr};
    std::atomic<KXProgressCallback> ProgressCallback{nullptr};

    // Write workers: the refusal flag (status -1 or -4 seen) and the shared result.
    std::atomic<bool> WriteRefused{false};
    std::atomic<int32_t> WriteResult{0};

    CKXFakePhone m_FakePhone;

private:
    mutable std::mutex taskStampLock_;
    std::u16string taskStamp_;
    std::atomic<uint32_t> statsWithoutRetry_{0};
    std::atomic<uint32_t> statsWithRetry_{0};

    std::mutex auxLock_;
    void* auxModule_ = nullptr;
    std::atomic<KXAuxEntry> auxRead_{nullptr};
    std::atomic<KXAuxEntry> auxWrite_{nullptr};
    std::atomic<KXAuxEntry> auxStop_{nullptr};

    std::atomic<platform::Env*> env_;
    platform::Timing timing_;
};

extern CKXPhoneApp theApp;
