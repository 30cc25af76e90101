// What a change-log clear may wipe. The handset's log keeps one entry per record whatever
// happens to the record after it was logged, so before a clear the driver reads the log again
// and asks the handset for the records' modification times: an entry the last change-log read
// did not take, or took in another state, or whose record was edited again since, holds a
// change the host has not seen and must survive the clear.
//
// Runs on the thread of the ClearChangeLog call.
#pragma once

#include <set>
#include <string>

#include "sync/change_log_memory.h"
#include "sync/id_batch_reader.h"

struct ChangeLogClearPlan {
    const char16_t* caller;
    const char* logBody;            // the tracking-log request's body, compact JSON
    const ServiceRequest& fastRead; // the modification times of records by id
    const char* modifiedKey;        // the member of fastRead's rows with the time
};

// Reads the log and the times. True when both came: *unseen then holds the ids of the entries
// whose change the host has not seen (each traced). False (traced) when the handset did not
// answer either; nothing may be cleared then.
bool FindUnseenChanges(const ChangeLogClearPlan& plan, const ChangeLogMemory& memory,
                       ServiceExchange exchange, std::set<std::string>* unseen);

// The ids of a calendar clear in batches whose {"__id": id} objects, written compactly, add up
// to less than limit bytes; an id whose object alone reaches limit goes in a batch of its own.
// Each batch is an array of such objects; none is empty.
std::vector<Json::Value> ClearBatches(const std::vector<std::string>& ids, size_t limit);
