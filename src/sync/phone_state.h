// The part of the phone object that the record layers read and set: the stop flag, the
// handset's description, the host's window and callbacks, the write workers' shared outcome and
// the readiness check. The phone object is the one implementation; it hands itself to the
// readers and writers it calls. Flags are atomic: Stop and the write workers run on other threads.
#pragma once

#include <atomic>
#include <cstdint>

#include <kxphone/kxphone.h>

#include "sync/change_log_memory.h"
#include "sync/picture_file.h"

class PhoneState {
public:
    PhoneState() = default;
    virtual ~PhoneState() = default;
    PhoneState(const PhoneState&) = delete;
    PhoneState& operator=(const PhoneState&) = delete;

    // Raised by Stop; polled by readers and writers between items and batches.
    std::atomic<bool> StopFlag{false};

    // From the host's device description (GetProfile of type 1): "pid", "sdk" (-1 when absent)
    // and the platform class derived from "sdk".
    std::atomic<int32_t> ProductId{-1};
    std::atomic<int32_t> SdkVersion{-1};
    std::atomic<int32_t> PlatformClass{5};

    // Where host messages go (null before InitSync: nothing is sent), and the host's callbacks.
    KXHostWindow* HostWindow() const { return hostWindow_.load(); }
    std::atomic<KXRecordCallback> RecordCallback{nullptr};
    std::atomic<KXProgressCallback> ProgressCallback{nullptr};

    // Write workers: the refusal flag (status -1 or -4 seen) and the shared result.
    std::atomic<bool> WriteRefused{false};
    std::atomic<int32_t> WriteResult{0};

    // What the last change-log read of each kind delivered; a clear compares the log with it.
    ChangeLogMemory ContactChanges;
    ChangeLogMemory CalendarChanges;
    // The picture files this session's records refer to; locked inside, so writers holding a
    // const phone may add to it.
    mutable PictureSession Pictures;

    // Asks the device-control library whether the handset is still reachable (result unused).
    virtual void CheckPhoneReady() = 0;

protected:
    std::atomic<KXHostWindow*> hostWindow_{nullptr};
};
