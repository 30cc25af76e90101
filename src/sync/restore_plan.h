// What a restore does with the records of a backup, the same for both kinds: in add-missing, only
// the records whose key no handset record has; in add-all, every one; in replace, every handset
// record deleted first and every backed-up record created. Created records lose their backed-up
// ids, which name another record, or none, on this handset. A plan-only restore hands each record
// it would delete or create to the host as a record-read message and writes nothing.
#pragma once

#include <kxphone/kxphone.h>
#include <kxphone/record_list.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "sync/host_messages.h"
#include "trace/trace.h"

template <class Record> struct RestoreSteps {
    uint32_t family;        // data type of the plan's messages
    const char16_t* caller; // trace caller
    // A key that finds a backed-up record on the handset; empty: the record matches nothing.
    std::u16string (*matchKey)(const Record&);
    void (*forgetIds)(Record*);
    const char16_t* loadFailed; // traced when the file could not be loaded
    const char16_t* readFailed; // ... the handset's records could not be read
    const char16_t* writeFailed;
};

// mode: KX_RESTORE_ADD_MISSING, _ADD_ALL or _REPLACE, with KX_RESTORE_PLAN_ONLY or not. load fills
// backup from the file, read fills handset (not for add-all), write sends the queue silently; each
// gives a result code. The lists belong to the caller, which may free what they carry with them.
template <class Record, class Load, class Read, class Write>
int32_t RunRestore(const PhoneState& phone, int32_t mode, const RestoreSteps<Record>& steps,
                   RecordList<Record>& backup, RecordList<Record>& handset, Load load, Read read,
                   Write write) {
    const bool planOnly = (mode & KX_RESTORE_PLAN_ONLY) != 0;
    mode &= ~KX_RESTORE_PLAN_ONLY;
    if (mode < KX_RESTORE_ADD_MISSING || mode > KX_RESTORE_REPLACE) {
        KX_ERROR_LINE(steps.caller);
        KX_TRACE_ERROR(steps.caller, u"Invalid Restore Mode");
        return KX_FAILED;
    }
    int32_t result = load();
    if (result != KX_OK) {
        KX_TRACE_ERROR(steps.caller, steps.loadFailed);
        return result;
    }
    if (mode != KX_RESTORE_ADD_ALL && (result = read()) != KX_OK) {
        KX_TRACE_ERROR(steps.caller, steps.readFailed);
        return result;
    }
    std::vector<Record*> queue;
    if (mode == KX_RESTORE_REPLACE)
        for (Record* h : handset) {
            h->lFlag = KX_RECORD_DELETE;
            queue.push_back(h);
        }
    std::set<std::u16string> present;
    if (mode == KX_RESTORE_ADD_MISSING)
        for (const Record* h : handset)
            present.insert(steps.matchKey(*h));
    for (Record* b : backup) {
        if (mode == KX_RESTORE_ADD_MISSING) {
            const std::u16string key = steps.matchKey(*b);
            if (!key.empty() && present.count(key))
                continue;
        }
        steps.forgetIds(b);
        b->lFlag = KX_RECORD_CREATE;
        queue.push_back(b);
    }
    if (planOnly) {
        for (Record* r : queue)
            SendHostMessage(phone, KXMessageCode(steps.family, KX_EVENT_RECORD_READ),
                            reinterpret_cast<intptr_t>(r));
        return KX_OK;
    }
    if (queue.empty())
        return KX_OK;
    result = write(&queue);
    if (result != KX_OK)
        KX_TRACE_ERROR(steps.caller, steps.writeFailed);
    return result;
}
