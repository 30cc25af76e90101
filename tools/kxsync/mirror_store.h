// The local mirror of one handset: a SQLite file holding, for each contact and event, its state as
// last synced with the handset, its handset id and modification time, and the local edit waiting
// for the next sync; beside them the conflict copies a sync kept aside and a few named values.
//
// A file that is not a mirror of this schema version is refused and never written to. Records are
// stored as the read form's JSON lines (record_json.h). Not thread-safe: one command uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace kxsync {

// What a local edit asks of the handset; kNone: nothing pending.
enum class Pending { kNone, kCreate, kUpdate, kDelete };
const char* PendingName(Pending pending); // "", "create", "update", "delete"

struct MirrorRow {
    int64_t key = 0;       // the mirror's own id; 0 for a row not stored yet
    std::string kind;      // "contact" or "event"
    std::string handsetId; // empty while a local create has not reached the handset
    std::string modified;  // the handset's modification time as last synced
    std::string synced;    // record line as last synced; empty for a local create
    std::string local;     // record line of the local edit; empty when none or a deletion
    Pending pending = Pending::kNone;
};

struct MirrorConflict {
    int64_t key = 0;
    std::string kind, handsetId;
    std::string local;         // record line of the local version kept aside
    Pending localEdit;         // what the local side had done
    std::string handsetChange; // "modified" or "deleted"
    std::string noted;         // when the sync found it, UTC
};

class MirrorStore {
public:
    // Opens the mirror at path, creating it (and its folder) when missing. A damaged file, one
    // that is not a mirror or one of another schema version is left untouched: nullptr with
    // *error saying which.
    static std::unique_ptr<MirrorStore> Open(const std::string& path, std::string* error);
    ~MirrorStore();
    MirrorStore(const MirrorStore&) = delete;
    MirrorStore& operator=(const MirrorStore&) = delete;

    // One write transaction at a time; Begin takes the file's write lock at once, so two kxsync
    // runs on the same mirror do not interleave.
    bool Begin();
    bool Commit();
    void Rollback();

    // Every row of kind, oldest first.
    bool Rows(const std::string& kind, std::vector<MirrorRow>* rows);
    // False when no row of kind has this handset id.
    bool FindByHandsetId(const std::string& kind, const std::string& id, MirrorRow* row);
    bool FindByKey(int64_t key, MirrorRow* row);
    // Inserts a row with key 0 (setting its key), else replaces the row of that key.
    bool Put(MirrorRow* row);
    bool Remove(int64_t key);
    // Every row of kind removed.
    bool RemoveAll(const std::string& kind);

    // Stores the copy and sets its key.
    bool AddConflict(MirrorConflict* conflict);
    std::vector<MirrorConflict> Conflicts();

    // Named values ("" when unset).
    std::string Value(const std::string& name);
    bool SetValue(const std::string& name, const std::string& value);

    const std::string& path() const { return path_; }
    // What the last failed call ran into.
    const std::string& error() const { return error_; }

private:
    MirrorStore() = default;
    bool Exec(const char* sql);
    bool Fail(const std::string& what);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string error_;
};

// The mirror file of a device serial: DATA/kxsync/SERIAL.sqlite, where DATA is dataHome when set,
// else ~/.local/share. Bytes of the serial that do not belong in a file name are written as %XX.
// False with *error when there is no folder to put it in or the serial is empty.
bool MirrorPath(const std::string& dataHome, const std::string& serial, std::string* path,
                std::string* error);

// The current time, UTC, as "yyyy-mm-dd hh:mm:ss".
std::string UtcNowText();

} // namespace kxsync
