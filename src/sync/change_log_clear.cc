#include "sync/change_log_clear.h"

#include <map>

#include "platform/format.h"
#include "trace/trace.h"

namespace {

// Ids per modification-time request.
constexpr Json::ArrayIndex kTimeBatch = 50;

std::string Text(const Json::Value& object, const char* key) {
    if (!object.isObject())
        return std::string();
    const Json::Value& value = object[key];
    return value.isString() || value.isNumeric() || value.isBool() ? value.asString() : std::string();
}

void Unseen(const ChangeLogClearPlan& plan, const std::string& id, const char16_t* why,
            std::set<std::string>* unseen) {
    KX_TRACE_INFO(plan.caller, platform::Format(u"change of %S kept: %s", id.c_str(), why));
    unseen->insert(id);
}

} // namespace

bool FindUnseenChanges(const ChangeLogClearPlan& plan, const ChangeLogMemory& memory,
                       ServiceExchange exchange, std::set<std::string>* unseen) {
    Json::Value body;
    Json::Reader().parse(plan.logBody, body);
    ServiceReply log = exchange(service::kTrackingChangeLog, &body);
    if (!log.ok() || !(log.objects().isArray() || log.objects().isNull())) {
        KX_TRACE_ERROR(plan.caller, u"change log could not be read again, nothing cleared");
        return false;
    }

    // Entries taken as they are now; the ones with a record still need its time compared.
    std::map<std::string, std::string> timeToCompare;
    for (const Json::Value& entry : log.objects()) {
        if (!entry.isObject())
            continue;
        std::string id = Text(entry, "__id");
        std::string flags;
        for (const char* key : {"_add", "_modify", "_delete"})
            flags += Text(entry, key) == "1" ? '1' : '0';
        TakenChange taken;
        if (!memory.Find(id, &taken))
            Unseen(plan, id, u"not read", unseen);
        else if (taken.flags != flags)
            Unseen(plan, id, u"changed again since it was read", unseen);
        else if (flags[2] != '1')
            timeToCompare[id] = taken.modified;
    }

    Json::Value ids(Json::arrayValue);
    auto compare = [&]() {
        Json::Value request(Json::objectValue);
        request["objects"] = std::move(ids);
        ids = Json::Value(Json::arrayValue);
        ServiceReply times = exchange(plan.fastRead, &request);
        if (!times.ok() || !(times.objects().isArray() || times.objects().isNull())) {
            KX_TRACE_ERROR(plan.caller, u"modification times could not be read, nothing cleared");
            return false;
        }
        std::map<std::string, std::string> now;
        for (const Json::Value& row : times.objects())
            now[Text(row, "__id")] = Text(row, plan.modifiedKey);
        for (const Json::Value& asked : request["objects"]) {
            std::string id = asked["__id"].asString();
            auto it = now.find(id);
            if ((it != now.end() ? it->second : std::string()) != timeToCompare[id])
                Unseen(plan, id, u"edited again since it was read", unseen);
        }
        return true;
    };
    for (const auto& entry : timeToCompare) {
        Json::Value item(Json::objectValue);
        item["__id"] = entry.first;
        ids.append(std::move(item));
        if (ids.size() == kTimeBatch && !compare())
            return false;
    }
    return ids.empty() || compare();
}

std::vector<Json::Value> ClearBatches(const std::vector<std::string>& ids, size_t limit) {
    std::vector<Json::Value> batches;
    Json::Value batch(Json::arrayValue);
    size_t bytes = 0;
    for (const std::string& id : ids) {
        Json::Value item(Json::objectValue);
        item["__id"] = id;
        const size_t size = WriteCompactJson(item).size();
        // Every batch takes at least one id, so an id too long for any batch still goes.
        if (!batch.empty() && bytes + size >= limit) {
            batches.push_back(std::move(batch));
            batch = Json::Value(Json::arrayValue);
            bytes = 0;
        }
        batch.append(std::move(item));
        bytes += size;
    }
    if (!batch.empty())
        batches.push_back(std::move(batch));
    return batches;
}
