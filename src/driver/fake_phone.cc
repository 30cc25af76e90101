#include "driver/fake_phone.h"

#include <handsetcontrol.h>

#include "calendar/calendar_changelog.h"
#include "contacts/contact_changelog.h"
#include "driver/app.h"
#include "platform/format.h"
#include "platform/utf.h"
#include "trace/trace.h"

namespace {

bool IsSampleItemType(int32_t type) {
    return type == KX_TYPE_RINGTONE || type == KX_TYPE_PICTURE || type == KX_TYPE_PICTURE2 ||
           type == KX_TYPE_FILE;
}

bool IsAuxType(int32_t type) {
    return type == KX_TYPE_MESSAGE || type == KX_TYPE_MEDIA;
}

// Types 3 and 6 belong to AuxSyncModule; without it (or the entry) nothing was done, which
// must not read as success.
int32_t ForwardToAux(KXAuxEntry (CKXPhoneApp::*entry)() const, int32_t type, uintptr_t param) {
    theApp.LoadAuxModule();
    KXAuxEntry fn = (theApp.*entry)();
    return fn ? fn(type, param) : KX_FAILED;
}

void TraceTaskFinished(const char16_t* caller) {
    uint32_t without = theApp.StatsWithoutRetry();
    uint32_t with = theApp.StatsWithRetry();
    KX_TRACE_INFO(caller,
                  platform::Format(u" #################### [ Task Finshed, Without Retry:%u, With Retry:%u, "
                                   u"Total:%u ] #################### ",
                                   without, with, without + with));
}

} // namespace

CKXFakePhone::CKXFakePhone() : m_SampleStore(*this) {}
CKXFakePhone::~CKXFakePhone() = default;

void CKXFakePhone::SetBaseUrl(const std::u16string& url) {
    theApp.SetServiceAddress(url);
}

std::u16string CKXFakePhone::BaseUrl() const {
    return theApp.ServiceAddress();
}

std::u16string CKXFakePhone::DeviceSerial() const {
    return theApp.DeviceSerial();
}

std::string CKXFakePhone::DeviceSerialNarrow() const {
    return platform::Narrow(DeviceSerial());
}

int32_t CKXFakePhone::InitSync(uint32_t, const InitSyncParams* params) {
    if (!params)
        return KX_INVALID_ARGUMENT;
    hostWindow_ = params->hostWindow;
    localPort_ = params->localPort;
    theApp.SetServiceAddress(platform::FromHostText(params->baseAddress));
    theApp.SetDeviceSerial(platform::FromHostText(params->deviceSerial));
    theApp.LoadAuxModule();
    theApp.ResetRequestStats();
    Pictures.Begin();
    return KX_OK;
}

int32_t CKXFakePhone::Read(int32_t type, uintptr_t param) {
    theApp.ResetRequestStats();
    int32_t result = KX_FAILED;
    if (type == KX_TYPE_CONTACT) {
        result = param & KX_READ_CHANGE_LOG ? ReadContactWithChangeLog(static_cast<uint32_t>(param))
                                            : ReadContact(nullptr);
    } else if (type == KX_TYPE_CALENDAR) {
        result = param & KX_READ_CHANGE_LOG ? ReadCalendarWithChangeLog(static_cast<uint32_t>(param))
                                            : ReadCalendar(static_cast<uint32_t>(param), nullptr);
    } else if (IsAuxType(type)) {
        result = ForwardToAux(&CKXPhoneApp::AuxRead, type, param);
    } else if (IsSampleItemType(type) || type == KX_TYPE_EMAIL) {
        result = SampleRead(type, param);
    }
    // A stopped read must not end every later read at its first item.
    StopFlag = false;
    TraceTaskFinished(u"CKXFakePhone::Read");
    return result;
}

int32_t CKXFakePhone::Write(int32_t type, uintptr_t param) {
    WriteRefused = false;
    theApp.ResetRequestStats();
    int32_t result = KX_OK;
    if (IsAuxType(type)) {
        result = ForwardToAux(&CKXPhoneApp::AuxWrite, type, param);
    } else if (IsSampleItemType(type) || type == KX_TYPE_EMAIL) {
        result = SampleWrite(type, param);
    } else if (type == KX_TYPE_CONTACT) {
        result = WriteContact(reinterpret_cast<const KXContactList*>(param), false);
    } else if (type == KX_TYPE_CALENDAR) {
        result = WriteCalendar(reinterpret_cast<const KXCalendarList*>(param), false);
    }
    StopFlag = false;
    TraceTaskFinished(u"CKXFakePhone::Write");
    return result;
}

int32_t CKXFakePhone::Verify(int32_t type, uintptr_t param) {
    if (IsSampleItemType(type)) {
        SampleVerify(type, param); // the item check reports through the block, never by result
        return KX_OK;
    }
    if (type == KX_TYPE_EMAIL || type == KX_TYPE_MESSAGE)
        return SampleVerify(type, param);
    if (type == KX_TYPE_CONTACT || type == KX_TYPE_CALENDAR)
        return VerifyRecord(type, param);
    return KX_OK;
}

int32_t CKXFakePhone::Delete(int32_t type, uintptr_t param) {
    return IsSampleItemType(type) ? SampleDelete(type, param) : KX_OK;
}

int32_t CKXFakePhone::Stop(int32_t type, uintptr_t param) {
    kxtrace::DebugPrint(u"\r\n orlen T3 Stopped\r\n");
    StopFlag = true;
    // Also end the transfer in flight, so the running operation stops within about a second
    // instead of after its current request.
    theApp.RaiseCancelIfRunning();
    theApp.LoadAuxModule();
    if (KXAuxEntry stop = theApp.AuxStop())
        stop(type, param);
    return KX_OK;
}

int32_t CKXFakePhone::UninitSync(uint32_t, uint32_t) {
    // The host has taken what it wanted of this session's records; pictures that only earlier
    // sessions referred to are not wanted any more.
    size_t removed = Pictures.End();
    if (removed)
        KX_TRACE_INFO(
            u"CKXFakePhone::UninitSync",
            platform::Format(u"%d picture files of earlier sessions removed", static_cast<int>(removed)));
    return KX_OK;
}

int32_t CKXFakePhone::CleanChangeLog(int32_t type, uintptr_t param) {
    theApp.ResetRequestStats();
    if (type == KX_TYPE_CONTACT)
        return CleanContactChangeLog(*this);
    // Only the calendar's argument is an id list; any other type's would be read as one.
    if (type != KX_TYPE_CALENDAR || param == 0)
        return KX_FAILED;
    return CleanCalendarChangeLog(*this, *reinterpret_cast<const KXCalendarIdList*>(param));
}

void CKXFakePhone::CheckPhoneReady() {
    KX_CheckPhoneReady(DeviceSerialNarrow().c_str(), LocalPort(), 8182, 0, 0,
                       static_cast<int32_t>(theApp.timing().phoneReadyTimeoutMs));
}
