// The fifteen exported functions: thin frames that trace, forward to the phone object, clear
// the cancel flag and map results. Nothing thrown ever leaves them.
#include <kxphone/kxphone.h>

#include "driver/app.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "sync/host_messages.h"
#include "trace/trace.h"

namespace {

std::u16string Text(const KXChar* text) {
    return platform::FromHostText(text);
}

// Runs a phone operation; a failure that escapes as an exception is a general failure.
template <class Operation> int32_t Guarded(Operation op) {
    try {
        return op();
    } catch (...) {
        return KX_FAILED;
    }
}

// How one traced export runs its phone operation.
struct Frame {
    const char16_t* caller;   // the export's name
    const char16_t* function; // "theApp.m_FakePhone.<operation>"
    bool taskStamp;           // Read, Write, ClearChangeLog start a new task
    bool cancellable;         // Stop may raise the cancel flag while it runs
};

// Enter line, task stamp, the operation, Leave line. The caller then clears the cancel flag.
template <class Operation> int32_t RunFramed(const Frame& frame, Operation op) {
    KX_TRACE_ENTER(frame.caller, frame.function);
    if (frame.taskStamp)
        theApp.RenewTaskStamp();
    int32_t result = Guarded(op);
    KX_TRACE_LEAVE(frame.caller, frame.function);
    return result;
}

// A frame whose operation Stop may cancel; afterLeave runs between the Leave line and the
// clearing of the cancel flag.
template <class Operation, class AfterLeave>
int32_t RunCancellable(const Frame& frame, Operation op, AfterLeave afterLeave) {
    theApp.BeginCancellableOperation();
    int32_t result = RunFramed(frame, op);
    try {
        afterLeave(result);
    } catch (...) {
    }
    theApp.EndCancellableOperation(frame.caller);
    return result;
}

template <class Operation> int32_t RunCancellable(const Frame& frame, Operation op) {
    return RunCancellable(frame, op, [](int32_t) {});
}

// A frame that Stop does not cancel; it still clears a flag raised for another call.
template <class Operation> int32_t RunPlain(const Frame& frame, Operation op) {
    int32_t result = RunFramed(frame, op);
    theApp.ClearCancelFlag(frame.caller);
    return result;
}

} // namespace

KX_EXPORT void KX_STDCALL InitDriver(uint32_t* driverId) {
    if (driverId)
        *driverId = KX_DRIVER_ID;
    theApp.ClearCancelFlag(u"InitDriver");
}

KX_EXPORT int32_t KX_STDCALL SetParam(const KXChar* ip, int32_t port, KXRecordCallback recordCallback,
                                      KXProgressCallback progressCallback) {
    theApp.m_FakePhone.RecordCallback = recordCallback;
    theApp.m_FakePhone.ProgressCallback = progressCallback;
    Guarded([&] {
        theApp.m_FakePhone.SetBaseUrl(platform::Format(u"http://%s:%d", Text(ip).c_str(), port));
        return KX_OK;
    });
    return KX_OK;
}

KX_EXPORT void KX_STDCALL OnInputData(uint32_t, uint32_t) {}

KX_EXPORT int32_t KX_STDCALL InitSync(uint32_t reserved, InitSyncParams* params) {
    return RunPlain({u"InitSync", u"theApp.m_FakePhone.InitSync", false, false},
                    [&] { return theApp.m_FakePhone.InitSync(reserved, params); });
}

KX_EXPORT int32_t KX_STDCALL GetProfile(int32_t type, uintptr_t out) {
    return RunPlain({u"GetProfile", u"theApp.m_FakePhone.GetProfile", false, false},
                    [&] { return theApp.m_FakePhone.GetProfile(type, out); });
}

KX_EXPORT int32_t KX_STDCALL Read(int32_t type, uintptr_t param) {
    return NormaliseResult(RunCancellable({u"Read", u"theApp.m_FakePhone.Read", true, true},
                                          [&] { return theApp.m_FakePhone.Read(type, param); }));
}

KX_EXPORT int32_t KX_STDCALL Write(int32_t type, uintptr_t param) {
    return NormaliseResult(RunCancellable({u"Write", u"theApp.m_FakePhone.Write", true, true},
                                          [&] { return theApp.m_FakePhone.Write(type, param); }));
}

KX_EXPORT int32_t KX_STDCALL DeleteIO(int32_t type, uintptr_t param) {
    return RunPlain({u"DeleteIO", u"theApp.m_FakePhone.Delete", false, false},
                    [&] { return theApp.m_FakePhone.Delete(type, param); });
}

KX_EXPORT int32_t KX_STDCALL InquireInfo(int32_t type, uintptr_t param) {
    return NormaliseResult(RunCancellable({u"InquireInfo", u"theApp.m_FakePhone.Inquire", false, true},
                                          [&] { return theApp.m_FakePhone.Inquire(type, param); }));
}

KX_EXPORT int32_t KX_STDCALL Verify(int32_t type, uintptr_t param) {
    return RunPlain({u"Verify", u"theApp.m_FakePhone.Verify", false, false},
                    [&] { return theApp.m_FakePhone.Verify(type, param); });
}

KX_EXPORT void KX_STDCALL ClearChangeLog(int32_t type, uintptr_t param) {
    RunCancellable(
        {u"ClearChangeLog", u"theApp.m_FakePhone.CleanChangeLog", true, true},
        [&] { return theApp.m_FakePhone.CleanChangeLog(type, param); },
        [](int32_t result) {
            // The failure may be a lost handset; the answer only shows in the trace.
            if (result != KX_OK && result != KX_STOPPED && result != KX_WRITE_REFUSED)
                theApp.m_FakePhone.CheckPhoneReady();
        });
}

KX_EXPORT int32_t KX_STDCALL Stop(int32_t type, uintptr_t param) {
    KX_TRACE_ENTER(u"Stop", u"theApp.m_FakePhone.Stop");
    Guarded([&] { return theApp.m_FakePhone.Stop(type, param); });
    KX_TRACE_LEAVE(u"Stop", u"theApp.m_FakePhone.Stop");
    return KX_OK;
}

KX_EXPORT int32_t KX_STDCALL UninitSync(uint32_t a, uint32_t b) {
    int32_t result = RunPlain({u"UninitSync", u"theApp.m_FakePhone.UninitSync", false, false},
                              [&] { return theApp.m_FakePhone.UninitSync(a, b); });
    theApp.ReleaseAuxModule();
    return result;
}

namespace {

// Backup and Restore number their types on their own: 2 calendar, 3 contacts. They write no
// Enter/Leave lines; another type gets the error line and 1.
template <class Calendar, class Contacts>
int32_t RouteBackup(const char16_t* name, int32_t type, Calendar calendar, Contacts contacts) {
    if (type != KX_BACKUP_CALENDAR && type != KX_BACKUP_CONTACT) {
        KX_ERROR_LINE(name);
        return KX_FAILED;
    }
    theApp.BeginCancellableOperation();
    int32_t result = type == KX_BACKUP_CALENDAR ? Guarded(calendar) : Guarded(contacts);
    // A Stop during the transfer raised the cancel flag; it must not outlive this call. No line:
    // these two functions trace nothing of their own on success.
    theApp.EndCancellableOperation(nullptr);
    return result;
}

} // namespace

KX_EXPORT int32_t KX_STDCALL Backup(int32_t type, const KXChar*, int32_t, const KXChar* path, uint32_t,
                                    uint32_t) {
    return RouteBackup(
        u"Backup", type, [&] { return theApp.m_FakePhone.BackupCalendar(Text(path)); },
        [&] { return theApp.m_FakePhone.BackupContent(Text(path)); });
}

KX_EXPORT int32_t KX_STDCALL Restore(int32_t type, const KXChar*, int32_t, const KXChar* path, uint32_t,
                                     int32_t mode, uint32_t) {
    return RouteBackup(
        u"Restore", type, [&] { return theApp.m_FakePhone.RestoreCalendar(Text(path), mode); },
        [&] { return theApp.m_FakePhone.RestoreContent(Text(path), mode); });
}
