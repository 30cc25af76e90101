#include "mirror_merge.h"

#include <cstdlib>
#include <map>

#include <json/json.h>

#include "record_text.h"

namespace kxsync {

namespace {

bool ParseLine(const std::string& line, Json::Value* v) {
    return ParseJsonText(line, v) && v->isObject();
}

const char* Did(bool deleted) {
    return deleted ? "deleted" : "changed";
}

// The local side of row set aside before the handset's version replaces it; a local deletion keeps
// the record it deleted.
bool KeepConflict(MirrorStore& store, const MirrorRow& row, bool handsetDeleted, MirrorReport* report) {
    MirrorConflict c;
    c.kind = row.kind;
    c.handsetId = row.handsetId;
    c.local = row.pending == Pending::kDelete ? row.synced : row.local;
    c.localEdit = row.pending;
    c.handsetChange = Did(handsetDeleted);
    c.noted = UtcNowText();
    if (!store.AddConflict(&c))
        return false;
    report->conflicts.push_back(row.kind + " " + row.handsetId + " (" + RecordLabel(c.local) +
                                "): " + Did(row.pending == Pending::kDelete) + " here, " + c.handsetChange +
                                " on the handset; the handset's version kept, the local one saved as "
                                "conflict copy " +
                                std::to_string(c.key));
    return true;
}

} // namespace

std::string ContentOf(const std::string& line) {
    Json::Value v;
    if (!ParseLine(line, &v))
        return line;
    v.removeMember("id");
    v.removeMember("modified");
    return JsonLineText(v);
}

std::string CreatedContentOf(const std::string& line) {
    Json::Value v;
    if (!ParseLine(line, &v))
        return line;
    // What the handset gives a record it creates, beside its id and time.
    for (const char* member : {"id", "modified", "op", "calendar", "timeZone", "iCalGUID"})
        v.removeMember(member);
    return JsonLineText(v);
}

std::string WriteFormOf(const std::string& line, Pending op, const std::string& id) {
    Json::Value v;
    if (!ParseLine(line, &v))
        return std::string();
    v["op"] = PendingName(op);
    v["id"] = id;
    return JsonLineText(v);
}

std::string WithId(const std::string& line, const std::string& id) {
    Json::Value v;
    if (!ParseLine(line, &v))
        return line;
    v["id"] = id;
    return JsonLineText(v);
}

std::string MemberOf(const std::string& line, const char* name) {
    Json::Value v;
    return ParseLine(line, &v) && v[name].isString() ? v[name].asString() : std::string();
}

std::string RecordLabel(const std::string& line) {
    Json::Value v;
    if (!ParseLine(line, &v))
        return "?";
    std::string label = v["title"].isString() ? v["title"].asString() : std::string();
    for (const char* part : {"givenName", "familyName"})
        if (v["fields"].isObject() && v["fields"][part].isArray() && v["fields"][part][0].isString())
            label += (label.empty() ? "" : " ") + v["fields"][part][0].asString();
    return label.empty() ? "no name" : label;
}

bool HandsetChangesOf(const SyncOutcome& log, std::vector<HandsetChange>* changes, std::string* error) {
    for (int change = 0; change < kSyncChanges; ++change)
        for (const std::string& text : log.lines[change]) {
            Json::Value v;
            if (!ParseLine(text, &v) || !v["id"].isString() || v["id"].asString().empty()) {
                *error = "the change log gave a record kxsync cannot place: " + text;
                return false;
            }
            v.removeMember("change");
            changes->push_back({static_cast<SyncChange>(change), v["id"].asString(), JsonLineText(v)});
        }
    return true;
}

bool MergeHandsetChanges(MirrorStore& store, const char* stored, const std::vector<HandsetChange>& changes,
                         MirrorReport* report) {
    // Local creates by what they hold: a record the handset added with the same content is that
    // create, stored by an earlier sync whose confirmation never came back (a lost answer, a killed
    // kxsync), or the same record made on both sides; either way it must not be created again.
    std::multimap<std::string, MirrorRow> creates;
    std::vector<MirrorRow> rows;
    if (!store.Rows(stored, &rows))
        return false;
    for (MirrorRow& row : rows)
        if (row.pending == Pending::kCreate)
            creates.emplace(CreatedContentOf(row.local), std::move(row));
    for (const HandsetChange& change : changes) {
        MirrorRow row;
        const bool known = store.FindByHandsetId(stored, change.id, &row);
        if (!known && change.change != kDeleted) {
            auto create = creates.find(CreatedContentOf(change.line));
            if (create != creates.end()) {
                row = std::move(create->second);
                creates.erase(create);
                row.handsetId = change.id;
                row.pending = Pending::kNone;
                row.local.clear();
                row.synced = change.line;
                row.modified = MemberOf(change.line, "modified");
                ++report->created;
                if (!store.Put(&row))
                    return false;
                continue;
            }
        }
        if (change.change == kDeleted) {
            if (!known)
                continue;
            if (row.pending == Pending::kUpdate && !KeepConflict(store, row, /*handsetDeleted=*/true, report))
                return false;
            if (!store.Remove(row.key))
                return false;
            ++report->deleted;
            continue;
        }
        const std::string content = ContentOf(change.line);
        if (!known) {
            row.kind = stored;
            row.handsetId = change.id;
            ++report->added;
        } else if (content != ContentOf(row.synced)) {
            ++report->changed;
            const bool settled = row.pending == Pending::kUpdate && ContentOf(row.local) == content;
            if (row.pending != Pending::kNone && !settled &&
                !KeepConflict(store, row, /*handsetDeleted=*/false, report))
                return false;
            row.pending = Pending::kNone;
            row.local.clear();
        }
        // Unchanged content still brings the handset's time.
        row.synced = change.line;
        row.modified = MemberOf(change.line, "modified");
        if (!store.Put(&row))
            return false;
    }
    return true;
}

bool MarkWritten(MirrorStore& store, MirrorRow row, const std::string& line, bool complete,
                 MirrorReport* report) {
    switch (row.pending) {
    case Pending::kDelete:
        ++report->removed;
        return store.Remove(row.key);
    case Pending::kCreate:
        ++report->created;
        break;
    case Pending::kUpdate:
        ++report->updated;
        if (!complete)
            return true;
        break;
    case Pending::kNone:
        return true;
    }
    row.handsetId = MemberOf(line, "id");
    row.modified = MemberOf(line, "modified");
    row.synced = complete ? line : std::string();
    row.local = complete ? std::string() : line;
    row.pending = complete ? Pending::kNone : Pending::kUpdate;
    return store.Put(&row);
}

bool FindRecord(MirrorStore& store, const char* stored, const std::string& id, MirrorRow* row) {
    const std::string local = "local:";
    if (id.compare(0, local.size(), local) != 0)
        return !id.empty() && store.FindByHandsetId(stored, id, row);
    char* end = nullptr;
    const long long key = std::strtoll(id.c_str() + local.size(), &end, 10);
    return *end == '\0' && key > 0 && store.FindByKey(key, row) && row->kind == stored;
}

bool AddLocalEdit(MirrorStore& store, const char* stored, Pending op, const std::string& id,
                  const std::string& line, std::string* error) {
    MirrorRow row;
    if (op == Pending::kCreate) {
        row.kind = stored;
        row.pending = Pending::kCreate;
        row.local = line;
    } else if (!FindRecord(store, stored, id, &row)) {
        *error = "the mirror holds no " + std::string(stored) + " with id \"" + id + "\"";
        return false;
    } else if (row.pending == Pending::kCreate) {
        // Not on the handset yet: the create itself changes or goes.
        if (op == Pending::kDelete) {
            if (store.Remove(row.key))
                return true;
            *error = store.error();
            return false;
        }
        row.local = line;
    } else if (op == Pending::kDelete) {
        row.pending = Pending::kDelete;
        row.local.clear();
    } else if (ContentOf(line) == ContentOf(row.synced)) {
        row.pending = Pending::kNone;
        row.local.clear();
    } else {
        row.pending = Pending::kUpdate;
        row.local = line;
    }
    if (!store.Put(&row)) {
        *error = store.error();
        return false;
    }
    return true;
}

bool CurrentLines(MirrorStore& store, const char* stored, std::vector<std::string>* lines) {
    std::vector<MirrorRow> rows;
    if (!store.Rows(stored, &rows))
        return false;
    for (const MirrorRow& row : rows) {
        if (row.pending == Pending::kCreate)
            lines->push_back(WithId(row.local, "local:" + std::to_string(row.key)));
        else if (row.pending != Pending::kDelete)
            lines->push_back(row.local.empty() ? row.synced : row.local);
    }
    return true;
}

} // namespace kxsync
