#include "transport/id_batch.h"

namespace {

std::string IdText(const Json::Value& entry) {
    if (!entry.isObject())
        return std::string();
    const Json::Value& id = entry["__id"];
    return id.isString() || id.isNumeric() || id.isBool() ? id.asString() : std::string();
}

} // namespace

Json::Value NextIdBatch(const Json::Value& ids, Json::ArrayIndex* position, size_t limit, bool nullCounts) {
    Json::Value batch(Json::arrayValue);
    if (!ids.isArray())
        return batch;
    const Json::ArrayIndex count = ids.size();
    while (*position < count && batch.size() < limit) {
        const Json::Value& entry = ids[(*position)++];
        if (!entry.isObject() && !(nullCounts && entry.isNull()))
            continue;
        Json::Value item(Json::objectValue);
        item["__id"] = IdText(entry);
        batch.append(std::move(item));
    }
    return batch;
}

Json::Value IdEntries(const fastjson::Value& objects) {
    Json::Value entries(Json::arrayValue);
    if (!objects.isArray())
        return entries;
    entries.resize(objects.size());
    Json::ArrayIndex i = 0;
    for (const fastjson::Value& entry : objects) {
        Json::Value& out = entries[i++];
        if (entry.isObject()) {
            out = Json::Value(Json::objectValue);
            const char *b, *e;
            if (entry.member("__id").scalarText(&b, &e))
                out["__id"] = Json::Value(b, e);
        } else if (!entry.isNull()) {
            out = false;
        }
    }
    return entries;
}
