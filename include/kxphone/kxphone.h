// The host-facing face of the driver: the fifteen exported functions, result codes, data-type
// numbers, host message codes, the InitSync parameter block and the callback types.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define KX_STDCALL __stdcall
#define KX_CDECL __cdecl
typedef wchar_t KXChar;
#else
#define KX_STDCALL
#define KX_CDECL
typedef char16_t KXChar;
#endif

#define KX_EXPORT extern "C" __attribute__((visibility("default")))

// Result codes crossing the interface.
enum KXResult : int32_t {
    KX_OK = 0,
    KX_FAILED = 1,
    KX_INVALID_ARGUMENT = 11,
    KX_WRITE_REFUSED = 12,
    KX_STOPPED = 21,
    KX_OTHER_FAILURE = 1100,
};

// Status bits of a contact's or event's lFlag: what Write is to do with the record (tested in
// this order; only the first one set is acted on), and how change-log reads mark records.
constexpr int32_t KX_RECORD_UPDATE = 0x04;
constexpr int32_t KX_RECORD_CREATE = 0x08;
constexpr int32_t KX_RECORD_DELETE = 0x20;

// Data types of Read, Write, GetProfile, InquireInfo, Verify and DeleteIO.
enum KXDataType : int32_t {
    KX_TYPE_PHONE_INFO = 1,
    KX_TYPE_CONTACT = 2,
    KX_TYPE_MESSAGE = 3,
    KX_TYPE_RINGTONE = 4,
    KX_TYPE_PICTURE = 5,
    KX_TYPE_MEDIA = 6,
    KX_TYPE_CALENDAR = 8,
    KX_TYPE_PROFILE_ONLY = 10,
    KX_TYPE_PICTURE2 = 11,
    KX_TYPE_FILE = 13,
    KX_TYPE_EMAIL = 14,
    KX_INQUIRE_PHONE_PROPERTIES = 0x10000,
    KX_INQUIRE_PHONE_STATUS = 0x20000,
};

// Backup and Restore number their types differently.
enum KXBackupType : int32_t {
    KX_BACKUP_CALENDAR = 2,
    KX_BACKUP_CONTACT = 3,
};

// Restore modes: 0 adds what the handset lacks, 1 adds everything, 2 replaces the handset's
// records. With the plan bit nothing is written: each record the restore would delete (lFlag
// 0x20) or create (0x08) goes to the host window as a record-read message of its data type
// (0x20001 contacts, 0x80001 calendar), in the order the restore would write them.
enum KXRestoreMode : int32_t {
    KX_RESTORE_ADD_MISSING = 0,
    KX_RESTORE_ADD_ALL = 1,
    KX_RESTORE_REPLACE = 2,
    KX_RESTORE_PLAN_ONLY = 0x100,
};

// Read flag word bits for types 2 and 8.
constexpr uint32_t KX_READ_CHANGE_LOG = 0x10000000;
constexpr uint32_t KX_READ_NO_TRACKING = 0x00000001;

constexpr uint32_t KX_DRIVER_ID = 638058520; // 0x26080018, written by InitDriver

// Host window message and its codes: (family << 16) | event.
constexpr uint32_t KX_HOST_MESSAGE = 2525;
enum KXEvent : uint32_t {
    KX_EVENT_RECORD_READ = 1,
    KX_EVENT_READ_FAILED = 2,
    KX_EVENT_READ_FINISHED = 3,
    KX_EVENT_RECORD_WRITTEN = 4,
    KX_EVENT_WRITE_FAILED = 5,
    KX_EVENT_WRITE_FINISHED = 6,
};
constexpr uint32_t KXMessageCode(uint32_t family, uint32_t event) {
    return (family << 16) | event;
}
constexpr uint32_t KX_PROGRESS_PERCENT = 0x10002;
constexpr uint32_t KX_PROGRESS_ITEM_DONE = 0x10003;
constexpr uint32_t KX_PROGRESS_ITEM_BEGIN = 0x10004;

#ifdef _WIN32
// The host's window is a window handle (HWND) that receives the messages through SendMessageW.
struct KXHostWindow;
#else
// The host's window: its first member is the window procedure, called synchronously on the
// sending thread.
struct KXHostWindow {
    intptr_t (*proc)(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value);
};
#endif

typedef void(KX_STDCALL* KXRecordCallback)(uint32_t code, uintptr_t value);
typedef void(KX_STDCALL* KXProgressCallback)(int32_t percent);

// Block handed to InitSync. The two texts are copied; the host keeps ownership.
struct InitSyncParams {
    uint32_t reserved;
    KXHostWindow* hostWindow;
    int32_t localPort;
    const KXChar* baseAddress;
    const KXChar* deviceSerial;
};

// The exports. Every function may be called from any host thread; Stop is meant to be called
// while Read or Write runs on another. No exception leaves any of them.
KX_EXPORT void KX_STDCALL InitDriver(uint32_t* driverId);
KX_EXPORT int32_t KX_STDCALL Backup(int32_t type, const KXChar* ip, int32_t port, const KXChar* path,
                                    uint32_t unused1, uint32_t unused2);
KX_EXPORT void KX_STDCALL ClearChangeLog(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL Restore(int32_t type, const KXChar* ip, int32_t port, const KXChar* path,
                                     uint32_t unused1, int32_t mode, uint32_t unused2);
KX_EXPORT int32_t KX_STDCALL SetParam(const KXChar* ip, int32_t port, KXRecordCallback recordCallback,
                                      KXProgressCallback progressCallback);
KX_EXPORT void KX_STDCALL OnInputData(uint32_t a, uint32_t b);
KX_EXPORT int32_t KX_STDCALL InitSync(uint32_t reserved, InitSyncParams* params);
KX_EXPORT int32_t KX_STDCALL GetProfile(int32_t type, uintptr_t out);
KX_EXPORT int32_t KX_STDCALL Read(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL Write(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL DeleteIO(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL InquireInfo(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL Verify(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL Stop(int32_t type, uintptr_t param);
KX_EXPORT int32_t KX_STDCALL UninitSync(uint32_t a, uint32_t b);
