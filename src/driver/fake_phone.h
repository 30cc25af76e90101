// The one phone object: the host's connection settings, the stop flag, and the dispatch of every
// exported operation by data type to its worker. Workers live in the files of their subsystem.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>
#include <kxphone/record_verify.h>

#include "contacts/contact_groups.h"
#include "driver/profile_store.h"
#include "driver/sample_store.h"
#include "sync/phone_state.h"

template <class T> class RecordList;

class CKXFakePhone : public PhoneState {
public:
    CKXFakePhone();
    ~CKXFakePhone();
    CKXFakePhone(const CKXFakePhone&) = delete;
    CKXFakePhone& operator=(const CKXFakePhone&) = delete;

    // --- dispatch (called by the exports with their arguments) ---
    int32_t InitSync(uint32_t reserved, const InitSyncParams* params);
    int32_t GetProfile(int32_t type, uintptr_t out);
    int32_t Inquire(int32_t type, uintptr_t param);
    int32_t Read(int32_t type, uintptr_t param);
    int32_t Write(int32_t type, uintptr_t param);
    int32_t Verify(int32_t type, uintptr_t param);
    int32_t Delete(int32_t type, uintptr_t param);
    int32_t Stop(int32_t type, uintptr_t param);
    int32_t UninitSync(uint32_t a, uint32_t b);
    int32_t CleanChangeLog(int32_t type, uintptr_t param);

    // --- contacts ---
    // Full read. list null: every record goes to the host (messages and callbacks); otherwise
    // copies are collected into list and nothing is sent.
    int32_t ReadContact(RecordList<ContactRecord>* list);
    // Incremental read of what the handset's contact log names, marked 0x08, 0x04 or 0x20.
    int32_t ReadContactWithChangeLog(uint32_t flags);

    // Writes the host's pending contact changes (records null: nothing to write). silent (a
    // restore): no host messages and no write-back. 0, 12, 21 or 1100.
    int32_t WriteContact(const KXContactList* records, bool silent);

    // --- calendar ---
    // Full read; list as for ReadContact. Bit 0 of flags skips restarting the handset's tracking.
    int32_t ReadCalendar(uint32_t flags, RecordList<CalendarRecord>* list);
    // Incremental read of what the handset's calendar log names, marked 8, 4 or 0x20.
    int32_t ReadCalendarWithChangeLog(uint32_t flags);

    // Verify of types 2 and 8: checks the block's record; the results land in m_VerifyResults.
    int32_t VerifyRecord(int32_t type, uintptr_t param);

    // Writes the host's pending event changes, then the exception rows of written recurring events;
    // records and quiet as for WriteContact.
    int32_t WriteCalendar(const KXCalendarList* records, bool quiet);

    // --- backup files (folder chosen by the host) ---
    int32_t BackupContent(const std::u16string& folder);
    int32_t RestoreContent(const std::u16string& folder, int32_t mode);
    int32_t BackupCalendar(const std::u16string& folder);
    int32_t RestoreCalendar(const std::u16string& folder, int32_t mode);

    void CheckPhoneReady() override;

    // --- sample store: items of types 4, 5, 11, 13 and e-mail of type 14 ---
    int32_t SampleRead(int32_t type, uintptr_t param);
    int32_t SampleWrite(int32_t type, uintptr_t param);
    int32_t SampleDelete(int32_t type, uintptr_t param);
    int32_t SampleVerify(int32_t type, uintptr_t param);

    // --- settings given by the host (address and serial are kept by the transport's context) ---
    void SetBaseUrl(const std::u16string& url);
    std::u16string BaseUrl() const;
    int32_t LocalPort() const { return localPort_.load(); }
    std::u16string DeviceSerial() const;
    // The serial narrowed for the device-control library.
    std::string DeviceSerialNarrow() const;

    // Capability word and information text handed out by Inquire(2).
    uint32_t CapabilityWord = 15;
    KXChar InformationText[1024] = {};

    // --- profiles, sample store, phone information (profiles.cc, sample_store*.cc, phone_info.cc) ---
    // Selector 0x20000: the status document with the handset's time, into the answer block.
    int32_t InquirePhoneStatus(uintptr_t param);
    // The handset's time as "%04d-%02d-%02d %02d:%02d:%02d", empty when it gave none.
    std::u16string GetPhoneTime();
    ProfileStore m_Profiles;
    // What the last Verify of type 2 or 8 found; the host reads it through its verify block.
    KXRecordVerifyList m_VerifyResults;
    SampleStore m_SampleStore;
    // Group ids and titles learnt from the handset, for the life of the phone object.
    ContactGroupCache m_ContactGroups;

private:
    std::atomic<int32_t> localPort_{115200};
};
