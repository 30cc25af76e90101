#include "admin.h"

#include <cstring>

#include "faults.h"
#include "journal.h"
#include "json_text.h"
#include "store.h"

namespace kxsim {

const char kAdminPrefix[] = "/_sim/";

namespace {

AdminAnswer Fail(int http, const std::string& why) {
    AdminAnswer a;
    a.httpStatus = http;
    a.doc["ok"] = false;
    a.doc["error"] = why;
    return a;
}

AdminAnswer Ok(Json::Value doc = Json::Value(Json::objectValue)) {
    AdminAnswer a;
    a.doc = std::move(doc);
    a.doc["ok"] = true;
    return a;
}

bool ParseBody(const std::string& body, Json::Value* out, std::string* error) {
    if (body.empty()) {
        *out = Json::Value(Json::objectValue);
        return true;
    }
    return ParseJson(body.data(), body.size(), out, error);
}

// One object or {"objects": [...]} as an array.
Json::Value AsObjects(const Json::Value& doc) {
    if (doc.isObject() && doc["objects"].isArray())
        return doc["objects"];
    Json::Value list(Json::arrayValue);
    list.append(doc);
    return list;
}

Json::Value FaultsJson(Faults& faults) {
    Json::Value list(Json::arrayValue);
    for (const FaultRule& r : faults.List())
        list.append(Faults::ToJson(r));
    return list;
}

Json::Value CountsJson(Store& store) {
    StoreCounts c = store.Counts();
    Json::Value v(Json::objectValue);
    v["contacts"] = static_cast<Json::Int64>(c.contacts);
    v["data_rows"] = static_cast<Json::Int64>(c.dataRows);
    v["groups"] = static_cast<Json::Int64>(c.groups);
    v["events"] = static_cast<Json::Int64>(c.events);
    v["exceptions"] = static_cast<Json::Int64>(c.exceptions);
    v["reminders"] = static_cast<Json::Int64>(c.reminders);
    v["contact_log"] = static_cast<Json::Int64>(c.contactLog);
    v["calendar_log"] = static_cast<Json::Int64>(c.calendarLog);
    return v;
}

} // namespace

AdminAnswer HandleAdmin(Store& store, Faults* faults, Journal* journal, const std::string& method,
                        const std::string& path, const std::string& body) {
    std::string rest = path.substr(std::strlen(kAdminPrefix));
    Json::Value doc;
    std::string error;
    if (!ParseBody(body, &doc, &error))
        return Fail(400, "body is not JSON: " + error);

    if (rest == "state" && method == "GET") {
        Json::Value v(Json::objectValue);
        v["counts"] = CountsJson(store);
        v["calendar_tracking"] = store.CalendarTracking();
        v["faults"] = faults != nullptr ? FaultsJson(*faults) : Json::Value(Json::arrayValue);
        return Ok(v);
    }

    using Edit = StoreResult (Store::*)(const Json::Value&, Origin, Json::Value*);
    static const struct {
        const char* path;
        Edit edit;
    } kEdits[] = {
        {"contact/add", &Store::CreateContacts},    {"contact/modify", &Store::UpdateContacts},
        {"contact/delete", &Store::DeleteContacts}, {"calendar/add", &Store::CreateEvents},
        {"calendar/modify", &Store::UpdateEvents},  {"calendar/delete", &Store::DeleteEvents},
    };
    for (auto& e : kEdits) {
        if (rest != e.path)
            continue;
        if (method != "POST")
            return Fail(405, "use POST");
        Json::Value answers;
        StoreResult r = (store.*e.edit)(AsObjects(doc), Origin::kHandset, &answers);
        if (!r.ok)
            return Fail(400, r.error);
        Json::Value v(Json::objectValue);
        v["objects"] = answers;
        return Ok(v);
    }

    for (const char* kind : {"contact", "calendar"}) {
        std::string base = std::string("changelog/") + kind;
        if (rest == base && method == "GET") {
            Json::Value v(Json::objectValue);
            v["objects"] = store.ChangeLog(kind);
            return Ok(v);
        }
        if (rest == base + "/clear" && method == "POST") {
            const Json::Value& ids = doc["objects"];
            StoreResult r = store.ClearChangeLog(kind, ids.isArray() ? &ids : nullptr);
            return r.ok ? Ok() : Fail(400, r.error);
        }
    }

    if (rest == "tracking" && method == "POST") {
        if (!doc["calendar"].isBool())
            return Fail(400, "{\"calendar\": true|false} expected");
        StoreResult r = store.SetCalendarTracking(doc["calendar"].asBool());
        return r.ok ? Ok() : Fail(500, r.error);
    }

    if (rest == "clock" && method == "POST") {
        if (!doc["now"].isIntegral())
            return Fail(400, "{\"now\": milliseconds} expected");
        store.SetFixedClock(doc["now"].asInt64());
        return Ok();
    }

    if (rest == "faults" && faults != nullptr) {
        if (method == "DELETE") {
            faults->Clear();
            return Ok();
        }
        if (method == "POST") {
            Json::Value list = doc.isObject() && doc["faults"].isArray() ? doc["faults"] : AsObjects(doc);
            std::vector<FaultRule> rules;
            for (const Json::Value& v : list) {
                FaultRule rule;
                if (!Faults::Parse(v, &rule, &error))
                    return Fail(400, error);
                rules.push_back(rule);
            }
            for (const FaultRule& rule : rules)
                faults->Add(rule);
            return Ok();
        }
        Json::Value v(Json::objectValue);
        v["faults"] = FaultsJson(*faults);
        return Ok(v);
    }

    if (rest == "journal" && journal != nullptr) {
        if (method == "DELETE") {
            journal->Clear();
            return Ok();
        }
        Json::Value v(Json::objectValue);
        Json::Value& entries = v["entries"] = Json::Value(Json::arrayValue);
        for (const JournalEntry& e : journal->Entries())
            entries.append(Journal::ToJson(e));
        Json::Value& open = v["unconfirmed"] = Json::Value(Json::arrayValue);
        for (const std::string& s : journal->UnconfirmedSessions())
            open.append(s);
        return Ok(v);
    }

    return Fail(404, "unknown admin request " + method + " " + path);
}

} // namespace kxsim
