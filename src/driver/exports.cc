// The fifteen exported functions: thin frames that trace, forward to the phone object, clear
// the cancel flag and map results. Nothing thrown ever leaves them.
#include <kxphone/kxphone.h>

#include <exception>

#include "driver/app.h"
#include "driver/trace.h"
#include "platform/format.h"

namespace {

int32_t MapResult(int32_t result) {
    return result == KX_OK || result == KX_WRITE_REFUSED || result == KX_STOPPED ? result : KX_OTHER_FAILURE;
}

void ClearCancelFlag(const char16_t* caller) {
    if (theApp.CancelFlag.load()) {
        KX_TRACE_INFO(caller, u"Cancel flag found, set it to false!");
        theApp.CancelFlag = false;
    }
}

// Runs one phone operation between its Enter and Leave lines. A failure that escapes as an
// exception is a general failure of that operation.
template <class Operation> int32_t Framed(const char16_t* caller, const char16_t* function, Operation op) {
    CKXPhoneApp::Running running(theApp);
    KX_TRACE_ENTER(caller, function);
    int32_t result;
    try {
        result = op();
    } catch (const std::exception&) {
        result = KX_FAILED;
    }
    KX_TRACE_LEAVE(caller, function);
    return result;
}

std::u16string Text(const KXChar* text) {
    return text ? std::u16string(text) : std::u16string();
}

} // namespace

KX_EXPORT void KX_STDCALL InitDriver(uint32_t* driverId) {
    if (driverId)
        *driverId = KX_DRIVER_ID;
    if (theApp.CancelFlag.load())
        theApp.CancelFlag = false;
}

KX_EXPORT int32_t KX_STDCALL SetParam(const KXChar* ip, int32_t port, KXRecordCallback recordCallback,
                                      KXProgressCallback progressCallback) {
    theApp.RecordCallback = recordCallback;
    theApp.ProgressCallback = progressCallback;
    theApp.m_FakePhone.SetBaseUrl(platform::Format(u"http://%s:%d", Text(ip).c_str(), port));
    return KX_OK;
}

KX_EXPORT void KX_STDCALL OnInputData(uint32_t, uint32_t) {}

KX_EXPORT int32_t KX_STDCALL InitSync(uint32_t reserved, InitSyncParams* params) {
    int32_t result = Framed(u"InitSync", u"theApp.m_FakePhone.InitSync",
                            [&] { return theApp.m_FakePhone.InitSync(reserved, params); });
    ClearCancelFlag(u"InitSync");
    return result;
}

KX_EXPORT int32_t KX_STDCALL GetProfile(int32_t type, uintptr_t out) {
    int32_t result = Framed(u"GetProfile", u"theApp.m_FakePhone.GetProfile",
                            [&] { return theApp.m_FakePhone.GetProfile(type, out); });
    ClearCancelFlag(u"GetProfile");
    return result;
}

KX_EXPORT int32_t KX_STDCALL Read(int32_t type, uintptr_t param) {
    theApp.RenewTaskStamp();
    int32_t result =
        Framed(u"Read", u"theApp.m_FakePhone.Read", [&] { return theApp.m_FakePhone.Read(type, param); });
    ClearCancelFlag(u"Read");
    return MapResult(result);
}

KX_EXPORT int32_t KX_STDCALL Write(int32_t type, uintptr_t param) {
    theApp.RenewTaskStamp();
    int32_t result =
        Framed(u"Write", u"theApp.m_FakePhone.Write", [&] { return theApp.m_FakePhone.Write(type, param); });
    ClearCancelFlag(u"Write");
    return MapResult(result);
}

KX_EXPORT int32_t KX_STDCALL DeleteIO(int32_t type, uintptr_t param) {
    int32_t result = Framed(u"DeleteIO", u"theApp.m_FakePhone.Delete",
                            [&] { return theApp.m_FakePhone.Delete(type, param); });
    ClearCancelFlag(u"DeleteIO");
    return result;
}

KX_EXPORT int32_t KX_STDCALL InquireInfo(int32_t type, uintptr_t param) {
    int32_t result = Framed(u"InquireInfo", u"theApp.m_FakePhone.Inquire",
                            [&] { return theApp.m_FakePhone.Inquire(type, param); });
    ClearCancelFlag(u"InquireInfo");
    return MapResult(result);
}

KX_EXPORT int32_t KX_STDCALL Verify(int32_t type, uintptr_t param) {
    int32_t result = Framed(u"Verify", u"theApp.m_FakePhone.Verify",
                            [&] { return theApp.m_FakePhone.Verify(type, param); });
    ClearCancelFlag(u"Verify");
    return result;
}

KX_EXPORT void KX_STDCALL ClearChangeLog(int32_t type, uintptr_t param) {
    theApp.RenewTaskStamp();
    int32_t result = Framed(u"ClearChangeLog", u"theApp.m_FakePhone.CleanChangeLog",
                            [&] { return theApp.m_FakePhone.CleanChangeLog(type, param); });
    if (result != KX_OK && result != KX_STOPPED && result != KX_WRITE_REFUSED) {
        theApp.m_FakePhone.CheckPhoneReady();
    }
    ClearCancelFlag(u"ClearChangeLog");
}

KX_EXPORT int32_t KX_STDCALL Stop(int32_t type, uintptr_t param) {
    KX_TRACE_ENTER(u"Stop", u"theApp.m_FakePhone.Stop");
    theApp.m_FakePhone.Stop(type, param);
    KX_TRACE_LEAVE(u"Stop", u"theApp.m_FakePhone.Stop");
    return KX_OK;
}

KX_EXPORT int32_t KX_STDCALL UninitSync(uint32_t a, uint32_t b) {
    int32_t result = Framed(u"UninitSync", u"theApp.m_FakePhone.UninitSync",
                            [&] { return theApp.m_FakePhone.UninitSync(a, b); });
    ClearCancelFlag(u"UninitSync");
    theApp.ReleaseAuxModule();
    return result;
}

namespace {

// Backup and Restore route by their own numbering: 2 calendar, 3 contacts.
int32_t RouteBackup(const char16_t* name, int32_t type, int32_t (*calendar)(const std::u16string&, int32_t),
                    int32_t (*contacts)(const std::u16string&, int32_t), const KXChar* path, int32_t mode) {
    int32_t result = KX_FAILED;
    try {
        if (type == KX_BACKUP_CALENDAR)
            result = calendar(Text(path), mode);
        else if (type == KX_BACKUP_CONTACT)
            result = contacts(Text(path), mode);
        else
            KX_ERROR_LINE(name);
    } catch (const std::exception&) {
        result = KX_FAILED;
    }
    return result;
}

} // namespace

KX_EXPORT int32_t KX_STDCALL Backup(int32_t type, const KXChar*, int32_t, const KXChar* path, uint32_t,
                                    uint32_t) {
    CKXPhoneApp::Running running(theApp);
    return RouteBackup(
        u"Backup", type,
        [](const std::u16string& p, int32_t) { return theApp.m_FakePhone.BackupCalendar(p); },
        [](const std::u16string& p, int32_t) { return theApp.m_FakePhone.BackupContent(p); }, path, 0);
}

KX_EXPORT int32_t KX_STDCALL Restore(int32_t type, const KXChar*, int32_t, const KXChar* path, uint32_t,
                                     int32_t mode, uint32_t) {
    CKXPhoneApp::Running running(theApp);
    return RouteBackup(
        u"Restore", type,
        [](const std::u16string& p, int32_t m) { return theApp.m_FakePhone.RestoreCalendar(p, m); },
        [](const std::u16string& p, int32_t m) { return theApp.m_FakePhone.RestoreContent(p, m); }, path,
        mode);
}
