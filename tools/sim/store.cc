#include "store.h"

#include <sqlite3.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "transport/base64.h"

namespace kxsim {

namespace {

const char* const kPhotoMime = "vnd.android.cursor.item/photo";
const char* const kSystemPrefix = "System Group: ";
const char* const kDataKeys[15] = {"data1",  "data2",  "data3",  "data4",  "data5",
                                   "data6",  "data7",  "data8",  "data9",  "data10",
                                   "data11", "data12", "data13", "data14", "data15"};

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

std::string NumberText(int64_t v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%" PRId64, v);
    return buf;
}

// A decimal integer with optional blanks around it and an optional sign.
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

uint64_t SplitMix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
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

// --- statements and transactions ---------------------------------------------------------------

class Store::Stmt {
public:
    Stmt(Store& s, const char* sql) : st_(s.Prepare(sql)) {}
    ~Stmt() {
        if (st_ != nullptr) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    explicit operator bool() const { return st_ != nullptr; }
    Stmt& Int(int i, int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& Text(int i, const std::string& v) {
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Blob(int i, const std::string& v) {
        sqlite3_bind_blob(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Null(int i) {
        sqlite3_bind_null(st_, i);
        return *this;
    }
    bool Row() { return st_ != nullptr && sqlite3_step(st_) == SQLITE_ROW; }
    bool Done() { return st_ != nullptr && sqlite3_step(st_) == SQLITE_DONE; }
    int64_t ColInt(int c) { return sqlite3_column_int64(st_, c); }
    bool ColNull(int c) { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
    bool ColBlob(int c) { return sqlite3_column_type(st_, c) == SQLITE_BLOB; }
    std::string ColText(int c) {
        const void* p = sqlite3_column_blob(st_, c);
        int n = sqlite3_column_bytes(st_, c);
        return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
    }

private:
    sqlite3_stmt* st_;
};

// A savepoint: nests inside Batch, rolls back whatever it did unless committed.
class Transaction {
public:
    explicit Transaction(Store& s) : s_(s) { ok_ = s_.Exec("SAVEPOINT op"); }
    ~Transaction() {
        if (ok_ && !done_) {
            s_.Exec("ROLLBACK TO op");
            s_.Exec("RELEASE op");
        }
    }
    bool ok() const { return ok_; }
    bool Commit() {
        done_ = true;
        return s_.Exec("RELEASE op");
    }

private:
    Store& s_;
    bool ok_ = false;
    bool done_ = false;
};

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

// --- change logs -------------------------------------------------------------------------------

void Store::LogChange(const char* kind, int64_t id, char what) {
    if (std::strcmp(kind, "calendar") == 0 && !CalendarTracking())
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

// --- groups ------------------------------------------------------------------------------------

StoreResult Store::AddGroup(const std::string& title, const std::string& systemId, int64_t* id) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Stmt s(*this, "INSERT INTO groups(title, system_id, account_name, account_type)"
                  " VALUES(?, ?, 'pcsc', 'com.vexo.android.pcsc')");
    s.Text(1, title);
    if (systemId.empty())
        s.Null(2);
    else
        s.Text(2, systemId);
    if (!s.Done())
        return StoreResult::Fail(LastError());
    *id = sqlite3_last_insert_rowid(db_);
    return {};
}

StoreResult Store::GroupIdForTitle(const std::string& rawTitle, std::string* id) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    id->clear();
    std::string title = rawTitle;
    if (title.compare(0, std::strlen(kSystemPrefix), kSystemPrefix) == 0)
        title.erase(0, std::strlen(kSystemPrefix));
    if (title.empty())
        return {};
    {
        Stmt q(*this, "SELECT _id FROM groups WHERE title=? ORDER BY system_id IS NULL, _id LIMIT 1");
        if (q.Text(1, title).Row()) {
            *id = NumberText(q.ColInt(0));
            return {};
        }
    }
    int64_t created;
    StoreResult r = AddGroup(title, "", &created);
    if (r.ok)
        *id = NumberText(created);
    return r;
}

std::string Store::GroupTitleForId(const std::string& idText) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    int64_t id;
    if (!ParseInt(idText, &id))
        return {};
    Stmt q(*this, "SELECT title, system_id FROM groups WHERE _id=?");
    if (!q.Int(1, id).Row())
        return {};
    return q.ColNull(1) ? q.ColText(0) : kSystemPrefix + q.ColText(0);
}

// --- contacts ----------------------------------------------------------------------------------

Json::Value Store::ContactIds() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Json::Value out(Json::arrayValue);
    Stmt q(*this, "SELECT _id FROM raw_contacts ORDER BY _id");
    while (q.Row()) {
        Json::Value e(Json::objectValue);
        e["__id"] = NumberText(q.ColInt(0));
        out.append(std::move(e));
    }
    return out;
}

bool Store::ContactExists(int64_t id) {
    Stmt q(*this, "SELECT 1 FROM raw_contacts WHERE _id=?");
    return q.Int(1, id).Row();
}

void Store::ContactObject(int64_t id, Json::Value* out) {
    Stmt c(*this,
           "SELECT account_name, account_type, sourceid, starred, sync4 FROM raw_contacts WHERE _id=?");
    if (!c.Int(1, id).Row())
        return;
    Json::Value obj(Json::objectValue);
    obj["__id"] = NumberText(id);
    obj["account_name"] = c.ColText(0);
    obj["account_type"] = c.ColText(1);
    if (!c.ColNull(2))
        obj["sourceid"] = c.ColText(2);
    obj["starred"] = c.ColInt(3) ? "1" : "0";
    obj["sync4"] = NumberText(c.ColInt(4));
    Json::Value& rows = obj["__data"] = Json::Value(Json::arrayValue);
    Stmt d(*this, "SELECT mimetype, is_primary, is_super_primary, data1, data2, data3, data4, data5, data6,"
                  " data7, data8, data9, data10, data11, data12, data13, data14, data15"
                  " FROM data WHERE raw_contact_id=? ORDER BY _id");
    d.Int(1, id);
    while (d.Row()) {
        Json::Value row(Json::objectValue);
        row["mimetype"] = d.ColText(0);
        for (int k = 0; k < 15; ++k) {
            int col = 3 + k;
            if (d.ColNull(col))
                continue;
            std::string v = d.ColText(col);
            // Pictures are kept as bytes, the way the provider keeps them.
            row[kDataKeys[k]] = d.ColBlob(col) ? Base64Encode(v.data(), v.size()) : v;
        }
        row["is_primary"] = d.ColInt(1) ? "1" : "0";
        row["is_super_primary"] = d.ColInt(2) ? "1" : "0";
        rows.append(std::move(row));
    }
    out->append(std::move(obj));
}

StoreResult Store::ReadContacts(const Json::Value& ids, Json::Value* objects) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *objects = Json::Value(Json::arrayValue);
    Transaction t(*this); // one consistent snapshot for the batch
    // Like a query for "_id IN (...)": each row once, however often it was asked for.
    std::unordered_set<int64_t> sent;
    for (const Json::Value& e : ids) {
        int64_t id;
        if (e.isObject() && IdOf(e, &id) && sent.insert(id).second)
            ContactObject(id, objects);
    }
    t.Commit();
    return {};
}

StoreResult Store::ContactTimes(const Json::Value& ids, Json::Value* objects) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *objects = Json::Value(Json::arrayValue);
    std::unordered_set<int64_t> sent;
    for (const Json::Value& e : ids) {
        int64_t id;
        if (!e.isObject() || !IdOf(e, &id) || !sent.insert(id).second)
            continue;
        Stmt q(*this, "SELECT sync4 FROM raw_contacts WHERE _id=?");
        if (q.Int(1, id).Row()) {
            Json::Value o(Json::objectValue);
            o["__id"] = NumberText(id);
            o["sync4"] = NumberText(q.ColInt(0));
            objects->append(std::move(o));
        }
    }
    return {};
}

StoreResult Store::InsertDataRows(int64_t contactId, const Json::Value& data) {
    if (data.isNull())
        return {};
    if (!data.isArray())
        return StoreResult::Fail("\"__data\" is not an array");
    for (const Json::Value& row : data) {
        std::string mime, primary, superPrimary;
        if (!row.isObject() || !TextOf(row, "mimetype", &mime) || mime.empty())
            return StoreResult::Fail("a data row without \"mimetype\"");
        if (!TextOf(row, "is_primary", &primary) || !TextOf(row, "is_super_primary", &superPrimary))
            return StoreResult::Fail("a data row with a malformed primary flag");
        Stmt s(*this,
               "INSERT INTO data(raw_contact_id, mimetype, is_primary, is_super_primary, data1, data2,"
               " data3, data4, data5, data6, data7, data8, data9, data10, data11, data12, data13, data14,"
               " data15) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        s.Int(1, contactId).Text(2, mime).Int(3, primary == "1").Int(4, superPrimary == "1");
        for (int k = 0; k < 15; ++k) {
            std::string v;
            if (!TextOf(row, kDataKeys[k], &v))
                return StoreResult::Fail(std::string("\"") + kDataKeys[k] + "\" is not a scalar");
            const Json::Value* present = row.find(kDataKeys[k], kDataKeys[k] + std::strlen(kDataKeys[k]));
            if (present == nullptr || present->isNull())
                s.Null(5 + k);
            else if (k == 14 && mime == kPhotoMime)
                s.Blob(5 + k, Base64Decode(v.data(), v.size()));
            else
                s.Text(5 + k, v);
        }
        if (!s.Done())
            return StoreResult::Fail(LastError());
    }
    return {};
}

StoreResult Store::InsertContact(const Json::Value& obj, int64_t* id) {
    std::string account, type, source, starred;
    if (!TextOf(obj, "account_name", &account) || !TextOf(obj, "account_type", &type) ||
        !TextOf(obj, "sourceid", &source) || !TextOf(obj, "starred", &starred))
        return StoreResult::Fail("a contact with a malformed account or \"starred\"");
    if (!obj.isMember("account_name")) {
        account = "pcsc";
        type = "com.vexo.android.pcsc";
    }
    int64_t star = 0;
    ParseInt(starred, &star);
    Stmt s(*this, "INSERT INTO raw_contacts(account_name, account_type, sourceid, starred, sync4)"
                  " VALUES(?, ?, ?, ?, ?)");
    s.Text(1, account).Text(2, type);
    if (source.empty())
        s.Null(3);
    else
        s.Text(3, source);
    if (!s.Int(4, star != 0).Int(5, NowMs()).Done())
        return StoreResult::Fail(LastError());
    *id = sqlite3_last_insert_rowid(db_);
    return InsertDataRows(*id, obj["__data"]);
}

StoreResult Store::CreateContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& obj : objects) {
        if (!obj.isObject())
            return StoreResult::Fail("a contact that is not an object");
        int64_t id;
        StoreResult r = InsertContact(obj, &id);
        if (!r.ok)
            return r;
        if (origin == Origin::kHandset)
            LogChange("contact", id, 'a');
        Json::Value a(Json::objectValue);
        a["__id"] = NumberText(id);
        a["count"] = "1";
        answers->append(std::move(a));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::UpdateContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& obj : objects) {
        if (!obj.isObject())
            return StoreResult::Fail("a contact that is not an object");
        std::string idText, starred;
        TextOf(obj, "__id", &idText);
        if (!TextOf(obj, "starred", &starred))
            return StoreResult::Fail("a contact with a malformed \"starred\"");
        int64_t id = 0;
        Json::Value a(Json::objectValue);
        a["__id"] = idText;
        // An update of a row that does not exist touches nothing, as a content provider's does.
        if (!IdOf(obj, &id) || !ContactExists(id)) {
            a["count"] = "0";
            answers->append(std::move(a));
            continue;
        }
        // The driver sends whole contacts ("starred" only when set); a handset edit names only
        // what it changes.
        bool full = origin == Origin::kDriver;
        if (full || obj.isMember("starred")) {
            int64_t star = 0;
            ParseInt(starred, &star);
            Stmt s(*this, "UPDATE raw_contacts SET starred=? WHERE _id=?");
            s.Int(1, star != 0).Int(2, id).Done();
        }
        Stmt touch(*this, "UPDATE raw_contacts SET sync4=? WHERE _id=?");
        touch.Int(1, NowMs()).Int(2, id).Done();
        if (full || obj.isMember("__data")) {
            Stmt d(*this, "DELETE FROM data WHERE raw_contact_id=?");
            d.Int(1, id).Done();
            StoreResult r = InsertDataRows(id, obj["__data"]);
            if (!r.ok)
                return r;
        }
        if (origin == Origin::kHandset)
            LogChange("contact", id, 'm');
        a["count"] = "1";
        answers->append(std::move(a));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::DeleteContacts(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& obj : objects) {
        if (!obj.isObject())
            return StoreResult::Fail("a contact that is not an object");
        std::string idText;
        TextOf(obj, "__id", &idText);
        int64_t id = 0;
        int changed = 0;
        if (IdOf(obj, &id)) {
            Stmt d(*this, "DELETE FROM raw_contacts WHERE _id=?");
            if (!d.Int(1, id).Done())
                return StoreResult::Fail(LastError());
            changed = sqlite3_changes(db_);
        }
        if (changed && origin == Origin::kHandset)
            LogChange("contact", id, 'd');
        Json::Value a(Json::objectValue);
        a["__id"] = idText;
        a["count"] = changed ? "1" : "0";
        answers->append(std::move(a));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

// --- calendar ----------------------------------------------------------------------------------

Json::Value Store::EventIds() {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    Json::Value out(Json::arrayValue);
    Stmt q(*this, "SELECT _id FROM events WHERE parentID IS NULL ORDER BY _id");
    while (q.Row()) {
        Json::Value e(Json::objectValue);
        e["__id"] = NumberText(q.ColInt(0));
        out.append(std::move(e));
    }
    return out;
}

bool Store::EventRow(int64_t id, Json::Value* out, int64_t* parent) {
    Stmt q(*this, "SELECT calendar_id, title, description, eventLocation, dtstart, dtend, duration, allDay,"
                  " hasAlarm, rrule, exdate, eventTimezone, iCalGUID, parentID, originalInstanceTime,"
                  " originalAllDay, last_update_time FROM events WHERE _id=?");
    if (!q.Int(1, id).Row())
        return false;
    Json::Value row(Json::objectValue);
    row["__id"] = NumberText(id);
    for (int c = 0; c < 16; ++c) {
        if (q.ColNull(c))
            continue;
        const EventColumn& col = kEventColumns[c];
        row[col.name] = col.integer ? NumberText(q.ColInt(c)) : q.ColText(c);
    }
    *parent = q.ColNull(13) ? 0 : q.ColInt(13);
    row["last_update_time"] = NumberText(q.ColInt(16));
    Stmt r(*this, "SELECT method, minutes FROM reminders WHERE event_id=? ORDER BY _id");
    r.Int(1, id);
    Json::Value reminders(Json::arrayValue);
    while (r.Row()) {
        Json::Value m(Json::objectValue);
        m["method"] = NumberText(r.ColInt(0));
        m["minutes"] = NumberText(r.ColInt(1));
        reminders.append(std::move(m));
    }
    if (!reminders.empty())
        row["__data"] = std::move(reminders);
    out->append(std::move(row));
    return true;
}

StoreResult Store::ReadEvents(const Json::Value& ids, Json::Value* objects) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *objects = Json::Value(Json::arrayValue);
    Transaction t(*this);
    std::unordered_set<int64_t> sent;
    for (const Json::Value& e : ids) {
        int64_t id, parent;
        if (!e.isObject() || !IdOf(e, &id) || sent.count(id))
            continue;
        if (!EventRow(id, objects, &parent))
            continue;
        sent.insert(id);
        if (parent != 0)
            continue;
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
                EventRow(child, objects, &parent);
    }
    t.Commit();
    return {};
}

StoreResult Store::EventTimes(const Json::Value& ids, Json::Value* objects) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *objects = Json::Value(Json::arrayValue);
    std::unordered_set<int64_t> sent;
    for (const Json::Value& e : ids) {
        int64_t id;
        if (!e.isObject() || !IdOf(e, &id) || !sent.insert(id).second)
            continue;
        Stmt q(*this, "SELECT last_update_time, iCalGUID FROM events WHERE _id=?");
        if (q.Int(1, id).Row()) {
            Json::Value o(Json::objectValue);
            o["__id"] = NumberText(id);
            o["last_update_time"] = NumberText(q.ColInt(0));
            o["iCalGUID"] = q.ColText(1);
            objects->append(std::move(o));
        }
    }
    return {};
}

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

StoreResult Store::InsertEvent(const Json::Value& row, int64_t* id, std::string* guid) {
    *id = 0;
    guid->clear();
    std::string parentText, original, start;
    if (!TextOf(row, "parentID", &parentText) || !TextOf(row, "originalInstanceTime", &original) ||
        !TextOf(row, "dtstart", &start) || !TextOf(row, "iCalGUID", guid))
        return StoreResult::Fail("an event with a malformed column");
    int64_t parent = 0;
    if (!parentText.empty()) {
        // A modified instance: its parent must be a recurring event on the handset; one row per
        // original instance (a second one for the same instance replaces the first).
        Stmt p(*this, "SELECT iCalGUID FROM events WHERE _id=? AND parentID IS NULL");
        if (!ParseInt(parentText, &parent) || !p.Int(1, parent).Row())
            return {}; // no such parent: nothing stored, the answer carries no id
        if (guid->empty())
            *guid = p.ColText(0);
        const bool byOriginal = !original.empty();
        Stmt same(*this, byOriginal ? "SELECT _id FROM events WHERE parentID=? AND originalInstanceTime=?"
                                    : "SELECT _id FROM events WHERE parentID=? AND dtstart=?");
        int64_t key = 0;
        ParseInt(byOriginal ? original : start, &key);
        if (same.Int(1, parent).Int(2, key).Row())
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

StoreResult Store::CreateEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& row : objects) {
        if (!row.isObject())
            return StoreResult::Fail("an event that is not an object");
        int64_t id;
        std::string guid;
        StoreResult r = InsertEvent(row, &id, &guid);
        if (!r.ok)
            return r;
        Json::Value a(Json::objectValue);
        a["__id"] = id ? NumberText(id) : std::string();
        a["iCalGUID"] = guid;
        a["count"] = id ? "1" : "0";
        answers->append(std::move(a));
        if (id == 0 || origin != Origin::kHandset)
            continue;
        int64_t parent = 0;
        Stmt p(*this, "SELECT parentID FROM events WHERE _id=?");
        if (p.Int(1, id).Row() && !p.ColNull(0))
            parent = p.ColInt(0);
        // An edited instance shows up as a change of its recurring event.
        LogChange("calendar", parent ? parent : id, parent ? 'm' : 'a');
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::UpdateEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& row : objects) {
        if (!row.isObject())
            return StoreResult::Fail("an event that is not an object");
        std::string idText;
        TextOf(row, "__id", &idText);
        Json::Value a(Json::objectValue);
        a["__id"] = idText;
        int64_t id = 0, parent = 0;
        std::string guid;
        {
            Stmt q(*this, "SELECT iCalGUID, parentID FROM events WHERE _id=?");
            if (IdOf(row, &id) && q.Int(1, id).Row()) {
                guid = q.ColText(0);
                parent = q.ColNull(1) ? 0 : q.ColInt(1);
            } else {
                id = 0;
            }
        }
        if (id == 0) {
            a["iCalGUID"] = "";
            a["count"] = "0";
            answers->append(std::move(a));
            continue;
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
        if (origin == Origin::kHandset)
            LogChange("calendar", parent ? parent : id, 'm');
        std::string newGuid;
        TextOf(row, "iCalGUID", &newGuid);
        a["iCalGUID"] = newGuid.empty() ? guid : newGuid;
        a["count"] = "1";
        answers->append(std::move(a));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

StoreResult Store::DeleteEvents(const Json::Value& objects, Origin origin, Json::Value* answers) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    *answers = Json::Value(Json::arrayValue);
    Transaction t(*this);
    for (const Json::Value& row : objects) {
        if (!row.isObject())
            return StoreResult::Fail("an event that is not an object");
        std::string idText;
        TextOf(row, "__id", &idText);
        int64_t id = 0, parent = 0;
        bool found = false;
        if (IdOf(row, &id)) {
            Stmt q(*this, "SELECT parentID FROM events WHERE _id=?");
            if (q.Int(1, id).Row()) {
                found = true;
                parent = q.ColNull(0) ? 0 : q.ColInt(0);
            }
        }
        if (found) {
            Stmt d(*this, "DELETE FROM events WHERE _id=?"); // exception rows and reminders go too
            if (!d.Int(1, id).Done())
                return StoreResult::Fail(LastError());
            if (origin == Origin::kHandset)
                LogChange("calendar", parent ? parent : id, parent ? 'm' : 'd');
        }
        Json::Value a(Json::objectValue);
        a["__id"] = idText;
        a["count"] = found ? "1" : "0";
        answers->append(std::move(a));
    }
    if (!t.Commit())
        return StoreResult::Fail(LastError());
    return {};
}

} // namespace kxsim
