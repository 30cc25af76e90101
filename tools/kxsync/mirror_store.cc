#include "mirror_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace kxsync {

namespace {

constexpr int kSchemaVersion = 1;

const char kSchema[] = R"(
CREATE TABLE records (
    key INTEGER PRIMARY KEY,
    kind TEXT NOT NULL,
    handset_id TEXT,
    modified TEXT NOT NULL DEFAULT '',
    synced TEXT NOT NULL DEFAULT '',
    local TEXT NOT NULL DEFAULT '',
    pending TEXT NOT NULL DEFAULT '' CHECK (pending IN ('', 'create', 'update', 'delete')),
    UNIQUE (kind, handset_id));
CREATE TABLE conflicts (
    key INTEGER PRIMARY KEY,
    kind TEXT NOT NULL,
    handset_id TEXT NOT NULL,
    local TEXT NOT NULL,
    local_edit TEXT NOT NULL,
    handset_change TEXT NOT NULL,
    noted TEXT NOT NULL);
CREATE TABLE mirror_values (name TEXT PRIMARY KEY, value TEXT NOT NULL);
PRAGMA user_version = 1;
)";

const char kRowColumns[] =
    "SELECT key, kind, IFNULL(handset_id, ''), modified, synced, local, pending FROM records ";

// One prepared statement; texts are bound by position from 1.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement& Bind(std::initializer_list<std::string> texts) {
        int index = 1;
        for (const std::string& text : texts)
            ok_ = ok_ && sqlite3_bind_text(stmt_, index++, text.data(), static_cast<int>(text.size()),
                                           SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& BindKey(int index, int64_t key) {
        ok_ = ok_ && sqlite3_bind_int64(stmt_, index, key) == SQLITE_OK;
        return *this;
    }
    // An empty text as NULL: the handset ids of local creates, which need not be unique.
    Statement& BindOrNull(int index, const std::string& text) {
        ok_ =
            ok_ && (text.empty() ? sqlite3_bind_null(stmt_, index)
                                 : sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                                     SQLITE_TRANSIENT)) == SQLITE_OK;
        return *this;
    }
    // True while there is a row; done() tells the end from a failure.
    bool Next() {
        if (!ok_)
            return false;
        int rc = sqlite3_step(stmt_);
        ok_ = rc == SQLITE_ROW || rc == SQLITE_DONE;
        done_ = rc == SQLITE_DONE;
        return rc == SQLITE_ROW;
    }
    bool Run() {
        while (Next()) {
        }
        return ok_ && done_;
    }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    int64_t Key(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool ok() const { return ok_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool ok_ = false;
    bool done_ = false;
};

Pending PendingOf(const std::string& name) {
    for (Pending p : {Pending::kCreate, Pending::kUpdate, Pending::kDelete})
        if (name == PendingName(p))
            return p;
    return Pending::kNone;
}

MirrorRow RowOf(const Statement& s) {
    MirrorRow row;
    row.key = s.Key(0);
    row.kind = s.Text(1);
    row.handsetId = s.Text(2);
    row.modified = s.Text(3);
    row.synced = s.Text(4);
    row.local = s.Text(5);
    row.pending = PendingOf(s.Text(6));
    return row;
}

bool MakeFolders(const std::string& path, std::string* error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = "cannot create " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

const char* PendingName(Pending pending) {
    switch (pending) {
    case Pending::kCreate:
        return "create";
    case Pending::kUpdate:
        return "update";
    case Pending::kDelete:
        return "delete";
    default:
        return "";
    }
}

std::unique_ptr<MirrorStore> MirrorStore::Open(const std::string& path, std::string* error) {
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (!exists && !MakeFolders(path, error))
        return nullptr;
    std::unique_ptr<MirrorStore> store(new MirrorStore());
    store->path_ = path;
    int flags = SQLITE_OPEN_READWRITE | (exists ? 0 : SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(path.c_str(), &store->db_, flags, nullptr) != SQLITE_OK) {
        *error = "cannot open the mirror " + path + ": " + sqlite3_errmsg(store->db_);
        return nullptr;
    }
    sqlite3_busy_timeout(store->db_, 5000);
    const std::string refused = "the mirror " + path + " is left as it is: ";

    // Read-only checks first: nothing is written to a file that fails them.
    Statement check(store->db_, "PRAGMA quick_check");
    std::string verdict = check.Next() ? check.Text(0) : sqlite3_errmsg(store->db_);
    if (verdict != "ok") {
        *error = refused + "it is damaged or not a database (" + verdict + ")";
        return nullptr;
    }
    Statement version(store->db_, "PRAGMA user_version");
    Statement tables(store->db_, "SELECT count(*) FROM sqlite_master");
    if (!version.Next() || !tables.Next()) {
        *error = refused + sqlite3_errmsg(store->db_);
        return nullptr;
    }
    const int64_t schema = version.Key(0);
    if (schema == 0 && tables.Key(0) == 0) {
        if (!store->Begin() || !store->Exec(kSchema) || !store->Commit()) {
            *error = store->error_;
            return nullptr;
        }
    } else if (schema != kSchemaVersion) {
        *error =
            refused + (schema == 0 ? std::string("it is not a kxsync mirror")
                                   : "its schema version is " + std::to_string(schema) +
                                         ", this kxsync knows version " + std::to_string(kSchemaVersion));
        return nullptr;
    }
    return store;
}

MirrorStore::~MirrorStore() {
    sqlite3_close(db_);
}

bool MirrorStore::Fail(const std::string& what) {
    error_ = "mirror " + path_ + ": " + what + ": " + sqlite3_errmsg(db_);
    return false;
}

bool MirrorStore::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail("cannot write");
}

bool MirrorStore::Begin() {
    return sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK ||
           Fail("cannot start a transaction");
}

bool MirrorStore::Commit() {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    Fail("cannot commit");
    Rollback();
    return false;
}

void MirrorStore::Rollback() {
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool MirrorStore::Rows(const std::string& kind, std::vector<MirrorRow>* rows) {
    Statement s(db_, (std::string(kRowColumns) + "WHERE kind = ? ORDER BY key").c_str());
    s.Bind({kind});
    while (s.Next())
        rows->push_back(RowOf(s));
    return s.ok() || Fail("cannot read");
}

bool MirrorStore::FindByHandsetId(const std::string& kind, const std::string& id, MirrorRow* row) {
    Statement s(db_, (std::string(kRowColumns) + "WHERE kind = ? AND handset_id = ?").c_str());
    s.Bind({kind, id});
    if (!s.Next())
        return false;
    *row = RowOf(s);
    return true;
}

bool MirrorStore::FindByKey(int64_t key, MirrorRow* row) {
    Statement s(db_, (std::string(kRowColumns) + "WHERE key = ?").c_str());
    s.BindKey(1, key);
    if (!s.Next())
        return false;
    *row = RowOf(s);
    return true;
}

bool MirrorStore::Put(MirrorRow* row) {
    Statement s(db_, row->key == 0
                         ? "INSERT INTO records (kind, modified, synced, local, pending, handset_id) "
                           "VALUES (?, ?, ?, ?, ?, ?)"
                         : "UPDATE records SET kind = ?, modified = ?, synced = ?, local = ?, "
                           "pending = ?, handset_id = ? WHERE key = ?");
    s.Bind({row->kind, row->modified, row->synced, row->local, PendingName(row->pending)})
        .BindOrNull(6, row->handsetId);
    if (row->key != 0)
        s.BindKey(7, row->key);
    if (!s.Run())
        return Fail("cannot store a record");
    if (row->key == 0)
        row->key = sqlite3_last_insert_rowid(db_);
    return true;
}

bool MirrorStore::Remove(int64_t key) {
    Statement s(db_, "DELETE FROM records WHERE key = ?");
    return s.BindKey(1, key).Run() || Fail("cannot remove a record");
}

bool MirrorStore::RemoveAll(const std::string& kind) {
    Statement s(db_, "DELETE FROM records WHERE kind = ?");
    return s.Bind({kind}).Run() || Fail("cannot remove records");
}

bool MirrorStore::AddConflict(MirrorConflict* c) {
    Statement s(db_, "INSERT INTO conflicts (kind, handset_id, local, local_edit, handset_change, noted) "
                     "VALUES (?, ?, ?, ?, ?, ?)");
    if (!s.Bind({c->kind, c->handsetId, c->local, PendingName(c->localEdit), c->handsetChange, c->noted})
             .Run())
        return Fail("cannot store a conflict copy");
    c->key = sqlite3_last_insert_rowid(db_);
    return true;
}

std::vector<MirrorConflict> MirrorStore::Conflicts() {
    std::vector<MirrorConflict> conflicts;
    Statement s(db_, "SELECT key, kind, handset_id, local, local_edit, handset_change, noted FROM conflicts "
                     "ORDER BY key");
    while (s.Next())
        conflicts.push_back(
            {s.Key(0), s.Text(1), s.Text(2), s.Text(3), PendingOf(s.Text(4)), s.Text(5), s.Text(6)});
    if (!s.ok())
        Fail("cannot read");
    return conflicts;
}

std::string MirrorStore::Value(const std::string& name) {
    Statement s(db_, "SELECT value FROM mirror_values WHERE name = ?");
    s.Bind({name});
    return s.Next() ? s.Text(0) : std::string();
}

bool MirrorStore::SetValue(const std::string& name, const std::string& value) {
    Statement s(db_, "INSERT OR REPLACE INTO mirror_values (name, value) VALUES (?, ?)");
    return s.Bind({name, value}).Run() || Fail("cannot store " + name);
}

bool MirrorPath(const std::string& dataHome, const std::string& serial, std::string* path,
                std::string* error) {
    if (serial.empty()) {
        *error = "no device serial (--serial) to name the mirror by";
        return false;
    }
    std::string folder = dataHome;
    if (folder.empty() || folder[0] != '/') {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            *error = "neither XDG_DATA_HOME nor HOME names a folder for the mirror";
            return false;
        }
        folder = std::string(home) + "/.local/share";
    }
    std::string name;
    for (unsigned char c : serial) {
        bool plain = std::isalnum(c) || c == '-' || c == '_' || (c == '.' && !name.empty());
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        name += plain ? std::string(1, static_cast<char>(c)) : std::string(escaped);
    }
    *path = folder + "/kxsync/" + name + ".sqlite";
    return true;
}

std::string UtcNowText() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    return text;
}

} // namespace kxsync
