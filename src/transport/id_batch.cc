#include "transport/id_batch.h"

std::string MemberText(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return std::string();
    const Json::Value& value = object[key];
    return value.isString() || value.isNumeric() || value.isBool() ? value.asString() : std::string();
}

namespace {

using ::MemberText;

std::string MemberText(const fastjson::Value& object, const char* key) {
    const char *b, *e;
    return object.member(key).scalarText(&b, &e) ? std::string(b, e) : std::string();
}

template <typename Value> IdList Entries(const Value& objects) {
    IdList entries;
    if (!objects.isArray())
        return entries;
    entries.resize(objects.size());
    size_t i = 0;
    for (const Value& entry : objects) {
        IdEntry& out = entries[i++];
        if (entry.isObject()) {
            out.kind = IdEntry::kObject;
            out.id = MemberText(entry, "__id");
            int flag = 0;
            for (const char* key : {"_add", "_modify", "_delete"})
                out.flags[flag++] = MemberText(entry, key) == "1" ? '1' : '0';
        } else if (entry.isNull()) {
            out.kind = IdEntry::kNull;
        }
    }
    return entries;
}

} // namespace

IdList IdEntries(const Json::Value& objects) {
    return Entries(objects);
}

IdList IdEntries(const fastjson::Value& objects) {
    return Entries(objects);
}

Json::Value NextIdBatch(const IdList& ids, size_t* position, size_t limit, bool nullCounts) {
    Json::Value batch(Json::arrayValue);
    while (*position < ids.size() && batch.size() < limit) {
        const IdEntry& entry = ids[(*position)++];
        if (entry.kind == IdEntry::kOther || (entry.kind == IdEntry::kNull && !nullCounts))
            continue;
        Json::Value item(Json::objectValue);
        item["__id"] = entry.id;
        batch.append(std::move(item));
    }
    return batch;
}
