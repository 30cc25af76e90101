#include "store.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "json_text.h"
#include "platform/utf.h"
#include "store_sql.h"

namespace kxsim {

namespace {

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS raw_contacts(
    _id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_name TEXT, account_type TEXT, sourceid TEXT,
    starred INTEGER NOT NULL DEFAULT 0,
    sync4 INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS data(
    _id INTEGER PRIMARY KEY AUTOINCREMENT,
    raw_contact_id INTEGER NOT NULL REFERENCES raw_contacts(_id) ON DELETE CASCADE,
    mimetype TEXT NOT NULL,
    is_primary INTEGER NOT NULL DEFAULT 0, is_super_primary INTEGER NOT NULL DEFAULT 0,
    data1 TEXT, data2 TEXT, data3 TEXT, data4 TEXT, data5 TEXT, data6 TEXT, data7 TEXT, data8 TEXT,
    data9 TEXT, data10 TEXT, data11 TEXT, data12 TEXT, data13 TEXT, data14 TEXT, data15 BLOB);
CREATE INDEX IF NOT EXISTS data_by_contact ON data(raw_contact_id);
CREATE TABLE IF NOT EXISTS groups(
    _id INTEGER PRIMARY KEY AUTOINCREMENT,
    title TEXT NOT NULL, system_id TEXT, account_name TEXT, account_type TEXT);
CREATE INDEX IF NOT EXISTS groups_by_title ON groups(title);
CREATE TABLE IF NOT EXISTS events(
    _id INTEGER PRIMARY KEY AUTOINCREMENT,
    calendar_id INTEGER, title TEXT, description TEXT, eventLocation TEXT,
    dtstart INTEGER, dtend INTEGER, duration TEXT,
    allDay INTEGER NOT NULL DEFAULT 0, hasAlarm INTEGER NOT NULL DEFAULT 0,
    rrule TEXT, exdate TEXT, eventTimezone TEXT, iCalGUID TEXT,
    last_update_time INTEGER,
    parentID INTEGER REFERENCES events(_id) ON DELETE CASCADE,
    originalInstanceTime INTEGER, originalAllDay INTEGER);
CREATE INDEX IF NOT EXISTS events_by_parent ON events(parentID);
CREATE TABLE IF NOT EXISTS reminders(
    _id INTEGER PRIMARY KEY AUTOINCREMENT,
    event_id INTEGER NOT NULL REFERENCES events(_id) ON DELETE CASCADE,
    method INTEGER, minutes INTEGER);
CREATE INDEX IF NOT EXISTS reminders_by_event ON reminders(event_id);
CREATE TABLE IF NOT EXISTS changelog(
    kind TEXT NOT NULL, id INTEGER NOT NULL,
    added INTEGER NOT NULL DEFAULT 0, modified INTEGER NOT NULL DEFAULT 0,
    deleted INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(kind, id));
)SQL";

} // namespace

std::string NumberText(int64_t v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%" PRId64, v);
    return buf;
}

bool ParseInt(const std::string& text, int64_t* out) {
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos)
        return false;
    std::string t = text.substr(b, e - b + 1);
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() || t.size() - i > 18)
        return false;
    for (size_t k = i; k < t.size(); ++k)
        if (t[k] < '0' || t[k] > '9')
            return false;
    *out = std::strtoll(t.c_str(), nullptr, 10);
    return true;
}

bool TextOf(const Json::Value& obj, const char* key, std::string* out) {
    out->clear();
    if (!obj.isObject())
        return false;
    const Json::Value* v = obj.find(key, key + std::strlen(key));
    if (v == nullptr || v->isNull())
        return true;
    if (v->isString()) {
        const char *b, *e;
        v->getString(&b, &e);
        out->assign(b, e);
        return true;
    }
    if (v->isBool()) {
        *out = v->asBool() ? "1" : "0";
        return true;
    }
    if (v->isIntegral()) {
        *out = v->isInt64() ? NumberText(v->asInt64()) : std::to_string(v->asUInt64());
        return true;
    }
    if (v->isDouble()) {
        *out = v->asString();
        return true;
    }
    return false;
}

bool IdOf(const Json::Value& obj, int64_t* id) {
    std::string text;
    return TextOf(obj, "__id", &text) && ParseInt(text, id) && *id > 0;
}

Store::~Store() {
    for (auto& kv : stmts_)
        sqlite3_finalize(kv.second);
    if (db_ != nullptr)
        sqlite3_close(db_);
}

std::unique_ptr<Store> Store::Open(const std::string& path, std::string* error) {
    std::unique_ptr<Store> s(new Store());
    // Every use of the connection holds mu_, so SQLite's own locking would only cost time.
    int rc = sqlite3_open_v2(path.c_str(), &s->db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        *error = "cannot open store " + path + ": " + (s->db_ ? sqlite3_errmsg(s->db_) : sqlite3_errstr(rc));
        return nullptr;
    }
    sqlite3_busy_timeout(s->db_, 5000);
    if (path != ":memory:" && !path.empty())
        s->Exec("PRAGMA journal_mode=WAL");
    if (!s->Exec("PRAGMA synchronous=NORMAL") || !s->Exec("PRAGMA foreign_keys=ON") || !s->Exec(kSchema)) {
        *error = "cannot create the tables of " + path + ": " + s->LastError();
        return nullptr;
    }
    // A new store starts as a fresh handset: the account's system groups exist, tracking is on.
    Transaction t(*s);
    Stmt seeded(*s, "SELECT value FROM meta WHERE key='created'");
    if (!seeded.Row()) {
        static const char* const kSystem[][2] = {{"My Contacts", "Contacts"},
                                                 {"Friends", "Friends"},
                                                 {"Family", "Family"},
                                                 {"Coworkers", "Coworkers"}};
        for (auto& g : kSystem) {
            int64_t id;
            s->AddGroup(g[0], g[1], &id);
        }
        s->Exec("INSERT INTO meta(key, value) VALUES('created', '1'), ('calendar_tracking', '1')");
    }
    if (!t.Commit()) {
        *error = "cannot initialise " + path + ": " + s->LastError();
        return nullptr;
    }
    return s;
}

sqlite3_stmt* Store::Prepare(const char* sql) {
    auto it = stmts_.find(sql);
    if (it != stmts_.end())
        return it->second;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
        fprintf(stderr, "kxphone-sim: SQL error: %s in %s\n", sqlite3_errmsg(db_), sql);
        return nullptr;
    }
    stmts_.emplace(sql, st);
    return st;
}

bool Store::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string Store::LastError() const {
    return sqlite3_errmsg(db_);
}

int64_t Store::NowMs() const {
    if (fixedClockMs_ != 0)
        return fixedClockMs_;
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool Store::IsEmpty() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Stmt a(*this, "SELECT (SELECT count(*) FROM raw_contacts) + (SELECT count(*) FROM events)");
    return !a.Row() || a.ColInt(0) == 0;
}

StoreCounts Store::Counts() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    StoreCounts c;
    Stmt q(*this,
           "SELECT (SELECT count(*) FROM raw_contacts), (SELECT count(*) FROM data),"
           " (SELECT count(*) FROM groups), (SELECT count(*) FROM events WHERE parentID IS NULL),"
           " (SELECT count(*) FROM events WHERE parentID IS NOT NULL), (SELECT count(*) FROM reminders),"
           " (SELECT count(*) FROM changelog WHERE kind='contact'),"
           " (SELECT count(*) FROM changelog WHERE kind='calendar')");
    if (q.Row()) {
        c.contacts = q.ColInt(0);
        c.dataRows = q.ColInt(1);
        c.groups = q.ColInt(2);
        c.events = q.ColInt(3);
        c.exceptions = q.ColInt(4);
        c.reminders = q.ColInt(5);
        c.contactLog = q.ColInt(6);
        c.calendarLog = q.ColInt(7);
    }
    return c;
}

StoreResult Store::Batch(const std::function<bool(Store&)>& fn) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Transaction t(*this);
    if (!t.ok())
        return StoreResult::Fail(LastError());
    if (!fn(*this))
        return StoreResult::Fail("batch abandoned");
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

// --- the frames of requests --------------------------------------------------------------------

Json::Value Store::IdList(const char* sql) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Json::Value out(Json::arrayValue);
    Stmt q(*this, sql);
    while (q.Row()) {
        Json::Value e(Json::objectValue);
        e["__id"] = NumberText(q.ColInt(0));
        out.append(std::move(e));
    }
    return out;
}

StoreResult Store::ReadEach(const Json::Value& ids, Json::Value* objects,
                            const std::function<void(int64_t id)>& read) {
    *objects = Json::Value(Json::arrayValue);
    return ForEachId(ids, read);
}

StoreResult Store::TreeOf(StoreResult r, const std::string& text, const std::string& badText,
                          Json::Value* objects) {
    (void)badText; // the service refuses such answers; the tree holds the bytes as they are
    std::string error;
    *objects = Json::Value(Json::arrayValue);
    if (r.ok && !ParseJson(text.data(), text.size(), objects, &error))
        return StoreResult::Fail("answer text does not parse: " + error);
    return r;
}

void TextOut::Key(const char* key) {
    Separate();
    out_->push_back('"');
    out_->append(key);
    out_->append("\":");
}

void TextOut::String(std::string_view value, const char* key) {
    if (bad_->empty() && !platform::IsValidUtf8(value.data(), value.size()))
        *bad_ = key;
    AppendJsonString(value.data(), value.data() + value.size(), out_);
}

void TextOut::Member(const char* key, std::string_view value) {
    Key(key);
    String(value, key);
}

StoreResult Store::ForEachId(const Json::Value& ids, const std::function<void(int64_t id)>& read) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Transaction t(*this); // one consistent snapshot for the batch
    std::unordered_set<int64_t> seen;
    for (const Json::Value& e : ids) {
        int64_t id;
        if (e.isObject() && IdOf(e, &id) && seen.insert(id).second)
            read(id);
    }
    t.Commit();
    return {};
}

StoreResult Store::FastRead(const Json::Value& ids, const char* sql, std::initializer_list<const char*> keys,
                            Json::Value* objects) {
    return ReadEach(ids, objects, [&](int64_t id) {
        Stmt q(*this, sql);
        if (!q.Int(1, id).Row())
            return;
        Json::Value o(Json::objectValue);
        o["__id"] = NumberText(id);
        int c = 0;
        for (const char* key : keys)
            o[key] = q.ColText(c++); // integers as their decimal text
        objects->append(std::move(o));
    });
}

StoreResult Store::WriteEach(const Json::Value& objects, Origin origin, Json::Value* answers,
                             const char* what, ObjectWrite write) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& obj : objects) {
        if (!obj.isObject())
            return StoreResult::Fail(std::string(what) + " that is not an object");
        // A handset keeps text as text: bytes that are no UTF-8 never enter it.
        std::string where;
        if (!ValidText(obj, &where))
            return StoreResult::Fail(std::string(what) + " with text that is not valid UTF-8 (" + where +
                                     ")");
        // What an update or delete of an unknown row answers; write changes it when it does more.
        std::string idText;
        TextOf(obj, "__id", &idText);
        Json::Value answer(Json::objectValue);
        answer["__id"] = idText;
        answer["count"] = "0";
        StoreResult r = (this->*write)(obj, origin, &answer);
        if (!r.ok)
            return r;
        answers->append(std::move(answer));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

// --- change logs -------------------------------------------------------------------------------

void Store::LogChange(Origin origin, const char* kind, int64_t id, char what) {
    // The driver's own writes are the sync itself; calendar edits wait for tracking.
    if (origin != Origin::kHandset || (std::strcmp(kind, "calendar") == 0 && !CalendarTracking()))
        return;
    const char* sql =
        what == 'a'   ? "INSERT INTO changelog(kind, id, added, modified, deleted) VALUES(?1, ?2, 1, 1, 0)"
                        " ON CONFLICT(kind, id) DO UPDATE SET added=1, modified=1, deleted=0"
        : what == 'm' ? "INSERT INTO changelog(kind, id, added, modified, deleted) VALUES(?1, ?2, 0, 1, 0)"
                        " ON CONFLICT(kind, id) DO UPDATE SET modified=1 WHERE deleted=0"
                      : "INSERT INTO changelog(kind, id, added, modified, deleted) VALUES(?1, ?2, 0, 0, 1)"
                        " ON CONFLICT(kind, id) DO UPDATE SET added=0, modified=0, deleted=1";
    Stmt s(*this, sql);
    s.Text(1, kind).Int(2, id).Done();
}

Json::Value Store::ChangeLog(const std::string& kind) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Json::Value out(Json::arrayValue);
    Stmt q(*this, "SELECT id, added, modified, deleted FROM changelog WHERE kind=? ORDER BY id");
    q.Text(1, kind);
    while (q.Row()) {
        Json::Value e(Json::objectValue);
        e["__id"] = NumberText(q.ColInt(0));
        e["_add"] = q.ColInt(1) ? "1" : "0";
        e["_modify"] = q.ColInt(2) ? "1" : "0";
        e["_delete"] = q.ColInt(3) ? "1" : "0";
        out.append(std::move(e));
    }
    return out;
}

StoreResult Store::ClearChangeLog(const std::string& kind, const Json::Value* ids) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Transaction t(*this);
    if (ids == nullptr) {
        Stmt d(*this, "DELETE FROM changelog WHERE kind=?");
        if (!d.Text(1, kind).Done())
            return StoreResult::Fail(LastError());
    } else {
        for (const Json::Value& e : *ids) {
            int64_t id;
            if (!IdOf(e, &id))
                return StoreResult::Fail("change-log entry without a numeric \"__id\"");
            Stmt d(*this, "DELETE FROM changelog WHERE kind=? AND id=?");
            if (!d.Text(1, kind).Int(2, id).Done())
                return StoreResult::Fail(LastError());
        }
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::SetCalendarTracking(bool on) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Stmt s(*this, "INSERT OR REPLACE INTO meta(key, value) VALUES('calendar_tracking', ?)");
    if (!s.Text(1, on ? "1" : "0").Done())
        return StoreResult::Fail(LastError());
    return {};
}

bool Store::CalendarTracking() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Stmt q(*this, "SELECT value FROM meta WHERE key='calendar_tracking'");
    return q.Row() && q.ColText(0) == "1";
}

} // namespace kxsim
