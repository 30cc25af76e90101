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
#include "transport/transport_context.h"

// AuxSyncModule entries: (data type, the operation's second argument) -> result.
typedef int32_t(KX_STDCALL* KXAuxEntry)(int32_t type, uintptr_t param);

// The transport's context is the application object's own state: it installs itself as such.
class CKXPhoneApp : public TransportContext {
public:
    CKXPhoneApp();
    ~CKXPhoneApp();
    CKXPhoneApp(const CKXPhoneApp&) = delete;
    CKXPhoneApp& operator=(const CKXPhoneApp&) = delete;

    bool InitInstance();
    int ExitInstance();

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

    CKXFakePhone m_FakePhone;

private:
    std::mutex cancelLock_;
    int cancellableOperations_ = 0; // guarded by cancelLock_

    std::mutex auxLock_;
    void* auxModule_ = nullptr;
    std::atomic<KXAuxEntry> auxRead_{nullptr};
    std::atomic<KXAuxEntry> auxWrite_{nullptr};
    std::atomic<KXAuxEntry> auxStop_{nullptr};
};

extern CKXPhoneApp theApp;
