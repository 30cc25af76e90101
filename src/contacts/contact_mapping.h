// Contacts between the handset's Android rows (a JSON object whose "__data" holds one row per
// mimetype) and ContactRecord. Group ids and titles are translated through the phone's group cache; received
// pictures are written to files under the user's application-data folder in "Vexo/data".
#pragma once

#include <json/value.h>

#include "transport/fast_json.h"

class ContactGroupCache;
class ContactRecord;

namespace kxconv {

// Fills a freshly constructed record from one contact object of the handset. 1 when a record
// was produced; 0 when the object belongs to another account or is not an object at all.
// passThrough: the record only passes through (a backup, a restore's look at the handset) and
// its picture file is removed with it, so it gets a file of its own rather than the shared one
// the host's records may refer to.
int ToContactEx(const Json::Value& object, ContactRecord* record, ContactGroupCache& groups,
                bool passThrough = false);
// The same from an answer the fast reader took: the same record, the same trace lines.
int ToContactEx(const fastjson::Value& object, ContactRecord* record, ContactGroupCache& groups,
                bool passThrough = false);

// Builds the object that writes record to the handset. Always 1; count receives the number of
// items counted against the request budget (fields, group titles, completed rows, the picture
// and the id).
int FromContactEx(const ContactRecord& record, Json::Value* object, int* count, ContactGroupCache& groups);

// Pictures of this size or more are not sent.
constexpr long long kMaxPictureBytes = 307200;

} // namespace kxconv
