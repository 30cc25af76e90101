// The id batches of the service's read requests: the readers first fetch a change log only to
// learn the ids, then ask for the rows by id, a bounded number per request.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <json/json.h>

#include "transport/fast_json.h"

// One entry of an id list as the batches see it. A list of thousands is kept this way rather
// than as a JSON tree: a tree of one-member objects cost more than reading the rows.
struct IdEntry {
    enum Kind : unsigned char { kObject, kNull, kOther };
    Kind kind = kOther;
    std::string id;                  // an object's "__id" as text; "" when it has none
    char flags[3] = {'0', '0', '0'}; // change logs: '1' for each of "_add", "_modify", "_delete" that is "1"

    bool operator==(const IdEntry& o) const {
        return kind == o.kind && id == o.id && std::string(flags, 3) == std::string(o.flags, 3);
    }
};
typedef std::vector<IdEntry> IdList;

// A member of a list entry or row as text ("" when absent or not a scalar), as JsonCpp's
// asString() gives it.
std::string MemberText(const Json::Value& object, const char* key);

// The entries of an id list, from JsonCpp's parse or the fast reader's (the same entries for the
// same text); anything but an array is an empty list.
IdList IdEntries(const Json::Value& objects);
IdList IdEntries(const fastjson::Value& objects);

// The next batch of {"__id": "<id>"} objects taken from ids, starting at *position. Object
// entries (and, with nullCounts, null entries) contribute their id; any other entry is skipped
// without counting. *position advances past every entry looked at; the batch ends after limit ids
// or at the end of ids. An empty array means nothing is left.
Json::Value NextIdBatch(const IdList& ids, size_t* position, size_t limit, bool nullCounts = false);
