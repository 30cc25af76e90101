// The calendar provider: events with their reminders and exception rows.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "splitmix.h"
#include "store_sql.h"

namespace kxsim {

namespace {

// The event columns the service exchanges, with their storage kind.
struct EventColumn {
    const char* name;
    bool integer;
};
const EventColumn kEventColumns[] = {
    {"calendar_id", true},    {"title", false},   {"description", false},
    {"eventLocation", false}, {"dtstart", true},  {"dtend", true},
    {"duration", false},      {"allDay", true},   {"hasAlarm", true},
    {"rrule", false},         {"exdate", false},  {"eventTimezone", false},
    {"iCalGUID", false},      {"parentID", true}, {"originalInstanceTime", true},
    {"originalAllDay", true},
};

// The members of an event row other than "__data", in JsonCpp's key order: column indexes, and
// the two members that are no plain column.
const int kIdMember = -1;
const int kUpdatedMember = -2;
const std::vector<int>& EventMemberOrder() {
    static const std::vector<int> order = [] {
        std::vector<std::pair<std::string, int>> keys = {{"__id", kIdMember},
                                                         {"last_update_time", kUpdatedMember}};
        for (int c = 0; c < 16; ++c)
            keys.emplace_back(kEventColumns[c].name, c);
        std::sort(keys.begin(), keys.end());
        std::vector<int> out;
        for (const auto& k : keys)
            out.push_back(k.second);
        return out;
    }();
    return order;
}

std::string NewGuid(int64_t id, int64_t now) {
    uint64_t a = SplitMix(static_cast<uint64_t>(id) * 0x100000001b3ull ^ static_cast<uint64_t>(now));
    uint64_t b = SplitMix(a);
    char buf[64];
    snprintf(buf, sizeof buf, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
             static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xfff),
             static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3fff)),
             static_cast<unsigned long long>(b & 0xffffffffffffull));
    return buf;
}

} // namespace

// --- reads -------------------------------------------------------------------------------------

Json::Value Store::EventIds() {
    return IdList("SELECT _id FROM events WHERE parentID IS NULL ORDER BY _id");
}

bool Store::EventRow(int64_t id, TextOut& out, int64_t* parent) {
    Stmt q(*this, "SELECT calendar_id, title, description, eventLocation, dtstart, dtend, duration, allDay,"
                  " hasAlarm, rrule, exdate, eventTimezone, iCalGUID, parentID, originalInstanceTime,"
                  " originalAllDay, last_update_time FROM events WHERE _id=?");
    if (!q.Int(1, id).Row())
        return false;
    *parent = q.ColId(13);
    // The reminders first: "__data" is the first member.
    std::string reminders;
    {
        Stmt r(*this, "SELECT method, minutes FROM reminders WHERE event_id=? ORDER BY _id");
        r.Int(1, id);
        while (r.Row()) {
            reminders.append(reminders.empty() ? "[" : ",");
            reminders.append("{\"method\":\"" + NumberText(r.ColInt(0)) + "\",\"minutes\":\"" +
                             NumberText(r.ColInt(1)) + "\"}");
        }
        if (!reminders.empty())
            reminders.push_back(']');
    }
    std::string& text = out.out();
    out.Separate();
    text.push_back('{');
    if (!reminders.empty()) {
        out.Key("__data");
        text.append(reminders);
    }
    for (int m : EventMemberOrder()) {
        if (m == kIdMember) {
            out.Member("__id", NumberText(id));
        } else if (m == kUpdatedMember) {
            out.Member("last_update_time", NumberText(q.ColInt(16)));
        } else if (!q.ColNull(m)) {
            const EventColumn& col = kEventColumns[m];
            if (col.integer)
                out.Member(col.name, NumberText(q.ColInt(m)));
            else
                out.Member(col.name, q.ColView(m));
        }
    }
    text.push_back('}');
    return true;
}

StoreResult Store::ReadEventsText(const Json::Value& ids, std::string* out, std::string* badText) {
    TextOut text(out, badText);
    out->push_back('[');
    std::unordered_set<int64_t> sent; // exception rows included
    StoreResult result = ForEachId(ids, [&](int64_t id) {
        int64_t parent;
        if (!sent.insert(id).second || !EventRow(id, text, &parent) || parent != 0)
            return;
        // A recurring event travels with its modified instances, so the reader can merge them
        // whether it asked for every id or only for the changed ones.
        std::vector<int64_t> children;
        {
            Stmt c(*this, "SELECT _id FROM events WHERE parentID=? ORDER BY _id");
            c.Int(1, id);
            while (c.Row())
                children.push_back(c.ColInt(0));
        }
        for (int64_t child : children)
            if (sent.insert(child).second)
                EventRow(child, text, &parent);
    });
    out->push_back(']');
    return result;
}

StoreResult Store::ReadEvents(const Json::Value& ids, Json::Value* objects) {
    std::string text, bad;
    return TreeOf(ReadEventsText(ids, &text, &bad), text, bad, objects);
}

StoreResult Store::EventTimes(const Json::Value& ids, Json::Value* objects) {
    return FastRead(ids, "SELECT last_update_time, iCalGUID FROM events WHERE _id=?",
                    {"last_update_time", "iCalGUID"}, objects);
}

// --- writes ------------------------------------------------------------------------------------

StoreResult Store::WriteEventColumns(int64_t id, const Json::Value& row, bool creating) {
    std::string sql = "UPDATE events SET last_update_time=?1";
    std::vector<std::pair<const EventColumn*, std::string>> values;
    for (const EventColumn& col : kEventColumns) {
        if (!row.isMember(col.name) || (!creating && std::strcmp(col.name, "parentID") == 0))
            continue;
        std::string v;
        if (!TextOf(row, col.name, &v))
            return StoreResult::Fail(std::string("\"") + col.name + "\" is not a scalar");
        values.emplace_back(&col, std::move(v));
        sql += std::string(", ") + col.name + "=?" + std::to_string(values.size() + 1);
    }
    sql += " WHERE _id=?" + std::to_string(values.size() + 2);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return StoreResult::Fail(LastError());
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(st, sqlite3_finalize);
    sqlite3_bind_int64(st, 1, NowMs());
    int i = 2;
    for (auto& [col, v] : values) {
        if (v.empty()) {
            sqlite3_bind_null(st, i++);
            continue;
        }
        if (col->integer) {
            int64_t n;
            if (!ParseInt(v, &n))
                return StoreResult::Fail(std::string("\"") + col->name + "\" is not a number: " + v);
            if (std::strcmp(col->name, "allDay") == 0 || std::strcmp(col->name, "hasAlarm") == 0)
                n = n != 0;
            sqlite3_bind_int64(st, i++, n);
        } else {
            sqlite3_bind_text(st, i++, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        }
    }
    sqlite3_bind_int64(st, i, id);
    if (sqlite3_step(st) != SQLITE_DONE)
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::WriteReminders(int64_t id, const Json::Value& data) {
    Stmt d(*this, "DELETE FROM reminders WHERE event_id=?");
    d.Int(1, id).Done();
    if (data.isNull())
        return {};
    if (!data.isArray())
        return StoreResult::Fail("\"__data\" of an event is not an array");
    for (const Json::Value& r : data) {
        std::string method, minutes;
        int64_t m = 1, n = 0;
        if (!r.isObject() || !TextOf(r, "method", &method) || !TextOf(r, "minutes", &minutes) ||
            !ParseInt(minutes, &n))
            return StoreResult::Fail("a reminder without numeric \"minutes\"");
        ParseInt(method, &m);
        Stmt s(*this, "INSERT INTO reminders(event_id, method, minutes) VALUES(?, ?, ?)");
        if (!s.Int(1, id).Int(2, m).Int(3, n).Done())
            return StoreResult::Fail(LastError());
    }
    return {};
}

StoreResult Store::InsertEvent(const Json::Value& row, int64_t* id, int64_t* parent, std::string* guid) {
    *id = 0;
    *parent = 0;
    guid->clear();
    std::string parentText, original, start;
    if (!TextOf(row, "parentID", &parentText) || !TextOf(row, "originalInstanceTime", &original) ||
        !TextOf(row, "dtstart", &start) || !TextOf(row, "iCalGUID", guid))
        return StoreResult::Fail("an event with a malformed column");
    if (!parentText.empty()) {
        // A modified instance: its parent must be a recurring event on the handset; one row per
        // original instance (a second one for the same instance replaces the first).
        Stmt p(*this, "SELECT iCalGUID FROM events WHERE _id=? AND parentID IS NULL");
        if (!ParseInt(parentText, parent) || !p.Int(1, *parent).Row())
            return {}; // no such parent: nothing stored, the answer carries no id
        if (guid->empty())
            *guid = p.ColText(0);
        const bool byOriginal = !original.empty();
        Stmt same(*this, byOriginal ? "SELECT _id FROM events WHERE parentID=? AND originalInstanceTime=?"
                                    : "SELECT _id FROM events WHERE parentID=? AND dtstart=?");
        int64_t key = 0;
        ParseInt(byOriginal ? original : start, &key);
        if (same.Int(1, *parent).Int(2, key).Row())
            *id = same.ColInt(0);
    }
    if (*id == 0) {
        Stmt s(*this, "INSERT INTO events(last_update_time) VALUES(?)");
        if (!s.Int(1, NowMs()).Done())
            return StoreResult::Fail(LastError());
        *id = sqlite3_last_insert_rowid(db_);
    }
    StoreResult r = WriteEventColumns(*id, row, true);
    if (!r.ok)
        return r;
    if (guid->empty())
        *guid = NewGuid(*id, NowMs());
    Stmt g(*this, "UPDATE events SET iCalGUID=? WHERE _id=?");
    g.Text(1, *guid).Int(2, *id).Done();
    return WriteReminders(*id, row["__data"]);
}

void Store::LogEventChange(Origin origin, int64_t id, int64_t parent, char what) {
    LogChange(origin, "calendar", parent ? parent : id, parent ? 'm' : what);
}

StoreResult Store::CreateEvent(const Json::Value& row, Origin origin, Json::Value* answer) {
    int64_t id, parent;
    std::string guid;
    StoreResult r = InsertEvent(row, &id, &parent, &guid);
    if (!r.ok)
        return r;
    // Nothing stored (no such parent): no id and no identifier that could be taken for one.
    (*answer)["__id"] = id ? NumberText(id) : std::string();
    (*answer)["iCalGUID"] = id ? guid : std::string();
    if (id == 0)
        return {};
    LogEventChange(origin, id, parent, 'a');
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::UpdateEvent(const Json::Value& row, Origin origin, Json::Value* answer) {
    (*answer)["iCalGUID"] = "";
    int64_t id = 0, parent = 0;
    std::string guid;
    {
        Stmt q(*this, "SELECT iCalGUID, parentID FROM events WHERE _id=?");
        if (!IdOf(row, &id) || !q.Int(1, id).Row())
            return {};
        guid = q.ColText(0);
        parent = q.ColId(1);
    }
    StoreResult r = WriteEventColumns(id, row, false);
    if (!r.ok)
        return r;
    std::string alarm;
    TextOf(row, "hasAlarm", &alarm);
    if (row.isMember("__data"))
        r = WriteReminders(id, row["__data"]);
    else if (alarm == "0")
        r = WriteReminders(id, Json::Value());
    if (!r.ok)
        return r;
    LogEventChange(origin, id, parent, 'm');
    std::string newGuid;
    TextOf(row, "iCalGUID", &newGuid);
    (*answer)["iCalGUID"] = newGuid.empty() ? guid : newGuid;
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::DeleteEvent(const Json::Value& row, Origin origin, Json::Value* answer) {
    // Every calendar answer has the same shape: the identifier of the row that was deleted.
    (*answer)["iCalGUID"] = "";
    int64_t id = 0, parent = 0;
    {
        Stmt q(*this, "SELECT parentID, iCalGUID FROM events WHERE _id=?");
        if (!IdOf(row, &id) || !q.Int(1, id).Row())
            return {};
        parent = q.ColId(0);
        (*answer)["iCalGUID"] = q.ColText(1);
    }
    Stmt d(*this, "DELETE FROM events WHERE _id=?"); // exception rows and reminders go too
    if (!d.Int(1, id).Done())
        return StoreResult::Fail(LastError());
    LogEventChange(origin, id, parent, 'd');
    (*answer)["count"] = "1";
    return {};
}

StoreResult Store::CreateEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "an event", &Store::CreateEvent);
}

StoreResult Store::UpdateEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "an event", &Store::UpdateEvent);
}

StoreResult Store::DeleteEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    return WriteEach(objects, origin, answers, "an event", &Store::DeleteEvent);
}

} // namespace kxsim
