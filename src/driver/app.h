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
    // env() is usable even before theApp is constructed (static objects that trace early).
    platform::Env* env() const {
        platform::Env* e = env_.load();
        return e ? e : platform::Env::Default();
    }
    void SetEnv(platform::Env* env) { env_.store(env ? env : platform::Env::Default()); }
    const platform::Timing& timing() const { return timing_; }
    void SetTiming(const platform::Timing& timing) { timing_ = timing; }

    // Renews TaskStamp from the tick count ("%010u_"). Called by Read, Write and ClearChangeLog
    // before any request of the call starts; read by the transport.
    void RenewTaskStamp();
    std::u16string TaskStamp() const;

    // Request statistics in milliseconds (atomic totals; any thread).
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

    // The cancel flag. Stop raises it only while an operation that talks to the handset runs
    // (Read, Write, ClearChangeLog, InquireInfo, Backup, Restore), so a transfer in flight ends
    // soon; such an operation clears it on its way out. Raising and the final clearing share one
    // lock, so a Stop that races the end of the operation can never leave the flag raised with
    // nothing running.
    void BeginCancellableOperation();
    // Ends one such operation and clears the flag; with a caller, the clearing is traced
    // ("Cancel flag found, set it to false!") when the flag was set.
    void EndCancellableOperation(const char16_t* caller);
    // Clears the flag (traced with caller when it was set). The exported functions call it on
    // their way out.
    void ClearCancelFlag(const char16_t* caller);
    // Raises the flag if a cancellable operation runs; true when raised.
    bool RaiseCancelIfRunning();

    std::mutex ResetLock;       // one bridge reset at a time
    std::mutex BridgeCheckLock; // one bridge health check at a time
    std::atomic<bool> ResetInProgress{false};
    std::atomic<bool> BridgeCheckInProgress{false};
    std::atomic<int32_t> BridgeCheckResult{0};

    // Read by the transport and MilliSleep: while set, transfers and waits end early.
    std::atomic<bool> CancelFlag{false};

    std::atomic<KXRecordCallback> RecordCallback{nullptr};
    std::atomic<KXProgressCallback> ProgressCallback{nullptr};

    // Write workers: the refusal flag (status -1 or -4 seen) and the shared result.
    std::atomic<bool> WriteRefused{false};
    std::atomic<int32_t> WriteResult{0};

    CKXFakePhone m_FakePhone;

private:
    std::mutex cancelLock_;
    int cancellableOperations_ = 0; // guarded by cancelLock_

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
