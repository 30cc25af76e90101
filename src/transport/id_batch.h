// The id batches of the service's read requests: the readers first fetch a change log only to
// learn the ids, then ask for the rows by id, a bounded number per request.
#pragma once

#include <cstddef>

#include <json/json.h>

#include "transport/fast_json.h"

// The next batch of {"__id": "<id>"} objects taken from the array ids, starting at *position.
// Entries that are objects (and, with nullCounts, null entries) contribute their "__id" as text;
// any other entry is skipped without counting. *position advances past every entry looked at;
// the batch ends after limit ids or at the end of ids. An empty array means nothing is left.
Json::Value NextIdBatch(const Json::Value& ids, Json::ArrayIndex* position, size_t limit,
                        bool nullCounts = false);

// An id list the fast reader took, as the array NextIdBatch walks: every entry in its place, an
// object kept as {"__id": its id as text} (or {} when it has none), null as null, anything else as
// false (skipped like any entry that is no object). NextIdBatch gives the same batches from it as
// from JsonCpp's parse of the same list.
Json::Value IdEntries(const fastjson::Value& objects);
