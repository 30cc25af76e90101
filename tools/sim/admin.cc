#include "admin.h"

#include <cstdio>
#include <cstring>
#include <vector>

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

// --- the handset edits' objects, checked before the store sees them ---------------------------

const char* const kContactKeys[] = {"account_name", "account_type", "sourceid", "starred", "__data"};
const char* const kRowKeys[] = {"mimetype", "data1",  "data2",  "data3",  "data4",      "data5",
                                "data6",    "data7",  "data8",  "data9",  "data10",     "data11",
                                "data12",   "data13", "data14", "data15", "is_primary", "is_super_primary"};
const char* const kEventKeys[] = {
    "calendar_id",    "title",         "description", "eventLocation", "dtstart",
    "dtend",          "duration",      "allDay",      "hasAlarm",      "rrule",
    "exdate",         "eventTimezone", "iCalGUID",    "parentID",      "originalInstanceTime",
    "originalAllDay", "__data"};
const char* const kEventTimes[] = {"dtstart", "dtend", "originalInstanceTime"};
const char* const kEventNumbers[] = {"calendar_id", "allDay", "hasAlarm", "parentID", "originalAllDay"};

template <size_t N> bool In(const char* const (&list)[N], const std::string& key) {
    for (const char* k : list)
        if (key == k)
            return true;
    return false;
}

template <size_t N> std::string Listed(const char* const (&list)[N]) {
    std::string text;
    for (size_t i = 0; i < N; ++i)
        text += std::string(i == 0 ? "" : i + 1 == N ? " and " : ", ") + "\"" + list[i] + "\"";
    return text;
}

bool Integer(const Json::Value& v) {
    if (v.isIntegral())
        return true;
    if (!v.isString())
        return false;
    std::string t = v.asString();
    size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() || t.size() - i > 18)
        return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9')
            return false;
    return true;
}

// "yyyy-mm-dd[ hh:mm[:ss]]" as milliseconds since the epoch (taken as UTC), for the hint of a date
// given as text; false for another text.
bool MillisOfDateText(const std::string& t, long long* ms) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (std::sscanf(t.c_str(), "%4d-%2d-%2d%*[ T]%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) < 3 || mo < 1 ||
        mo > 12 || d < 1 || d > 31)
        return false;
    long long yy = y - (mo <= 2);
    long long era = (yy >= 0 ? yy : yy - 399) / 400;
    long long yoe = yy - era * 400;
    long long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    *ms = ((days * 24 + h) * 60 + mi) * 60000LL + s * 1000LL;
    return true;
}

bool Scalar(const Json::Value& obj, const std::string& key, std::string* error, const std::string& what) {
    const Json::Value& v = obj[key];
    if (v.isObject() || v.isArray()) {
        *error = what + ": \"" + key + "\" must be a text, not " + (v.isObject() ? "an object" : "a list");
        return false;
    }
    return true;
}

// Checks the objects of a handset edit (kind "contact" or "calendar", op "add", "modify" or
// "delete"): false with *error naming the first key that is unknown, missing or bad.
bool CheckEdit(const std::string& kind, const std::string& op, const Json::Value& objects,
               std::string* error) {
    const bool contact = kind == "contact";
    const std::string what = kind + " " + op;
    for (const Json::Value& obj : objects) {
        if (!obj.isObject()) {
            *error = what + " needs a JSON object";
            return false;
        }
        if (op != "add") {
            int64_t id;
            if (!obj.isMember("__id") || !IdOf(obj, &id)) {
                *error = what + " needs \"__id\", the " + (contact ? "contact" : "event") +
                         "'s id as a positive whole number" +
                         (obj.isMember("__id") ? ", not " + CompactJson(obj["__id"]) : std::string());
                return false;
            }
        }
        for (const std::string& key : obj.getMemberNames()) {
            if (key == "__id" && op != "add")
                continue;
            bool known = op != "delete" && (contact ? In(kContactKeys, key) &&
                                                          (op == "add" || key == "starred" || key == "__data")
                                                    : In(kEventKeys, key));
            if (!known) {
                std::string takes = op == "delete" ? "only \"__id\""
                                    : contact
                                        ? (op == "add" ? Listed(kContactKeys)
                                                       : std::string("\"__id\", \"starred\" and \"__data\""))
                                        : std::string(op == "add" ? "" : "\"__id\", ") +
                                              "the event columns " + Listed(kEventKeys);
                *error = what + ": unknown key \"" + key + "\" (it takes " + takes + ")";
                if (contact && op != "delete")
                    *error += "; names, numbers and addresses are \"__data\" rows";
                return false;
            }
            if (key != "__data" && !Scalar(obj, key, error, what))
                return false;
        }
        if (contact) {
            const Json::Value& rows = obj["__data"];
            if (!rows.isNull() && !rows.isArray()) {
                *error = what + ": \"__data\" must be a list of rows";
                return false;
            }
            for (const Json::Value& row : rows) {
                if (!row.isObject() || !row["mimetype"].isString() || row["mimetype"].asString().empty()) {
                    *error = what + ": a \"__data\" row needs \"mimetype\" (e.g. "
                                    "\"vnd.android.cursor.item/name\")";
                    return false;
                }
                for (const std::string& key : row.getMemberNames()) {
                    if (!In(kRowKeys, key)) {
                        *error = what + ": unknown key \"" + key + "\" in a \"__data\" row (it takes " +
                                 Listed(kRowKeys) + ")";
                        return false;
                    }
                    if (!Scalar(row, key, error, what))
                        return false;
                }
            }
            continue;
        }
        for (const char* key : kEventTimes) {
            if (!obj.isMember(key) || Integer(obj[key]) ||
                (obj[key].isString() && obj[key].asString().empty()))
                continue;
            long long ms;
            std::string text = obj[key].isString() ? obj[key].asString() : CompactJson(obj[key]);
            *error = what + ": \"" + key + "\" must be milliseconds since 1970-01-01 00:00 UTC";
            if (obj[key].isString() && MillisOfDateText(text, &ms))
                *error += " (\"" + std::to_string(ms) + "\" is " + text + " UTC)";
            *error += ", not " + CompactJson(obj[key]);
            return false;
        }
        for (const char* key : kEventNumbers) {
            if (obj.isMember(key) && !Integer(obj[key]) &&
                !(obj[key].isString() && obj[key].asString().empty())) {
                *error = what + ": \"" + key + "\" must be a whole number, not " + CompactJson(obj[key]);
                return false;
            }
        }
        const Json::Value& reminders = obj["__data"];
        if (!reminders.isNull() && !reminders.isArray()) {
            *error = what + ": \"__data\" of an event must be a list of reminders {\"minutes\", \"method\"}";
            return false;
        }
        for (const Json::Value& r : reminders) {
            if (!r.isObject() || !Integer(r["minutes"])) {
                *error = what + ": a reminder needs \"minutes\", a whole number";
                return false;
            }
            for (const std::string& key : r.getMemberNames())
                if (key != "minutes" && key != "method") {
                    *error = what + ": unknown key \"" + key +
                             "\" in a reminder (it takes \"minutes\" and "
                             "\"method\")";
                    return false;
                }
        }
    }
    return true;
}

} // namespace

AdminAnswer HandleAdmin(Store& store, Faults* faults, Journal* journal, const std::string& method,
                        const std::string& path, const std::string& body) {
    std::string rest = path.substr(std::strlen(kAdminPrefix));
    Json::Value doc;
    std::string error;
    if (!ParseBody(body, &doc, &error)) {
        // JsonCpp's findings span lines ("* Line 1, Column 2\n  Missing ..."): one line of them.
        std::string text;
        for (char c : error.substr(0, error.find("\n*")))
            if (c != '*' && !((c == '\n' || c == ' ') && (text.empty() || text.back() == ' ')))
                text += c == '\n' ? ':' : c;
        while (!text.empty() && (text.back() == ' ' || text.back() == ':'))
            text.pop_back();
        return Fail(400, "not JSON (" + text + ")");
    }

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
        const std::string path(e.path);
        const Json::Value objects = AsObjects(doc);
        if (!CheckEdit(path.substr(0, path.find('/')), path.substr(path.find('/') + 1), objects, &error))
            return Fail(400, error);
        Json::Value answers;
        StoreResult r = (store.*e.edit)(objects, Origin::kHandset, &answers);
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
