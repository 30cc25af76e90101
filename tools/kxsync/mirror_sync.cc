#include "mirror_sync.h"

#include <kxphone/kxphone.h>

#include <cstdio>
#include <memory>

#include "mirror_merge.h"
#include "record_json.h"
#include "record_text.h"
#include "sync_command.h"
#include "write_command.h"

namespace kxsync {

const MirrorKind<ContactRecord> kMirrorContacts = {
    "contact", "contacts", KX_TYPE_CONTACT, &ContactJsonLine, &ParseContactLine, &ContactRecord::strPIMID};
const MirrorKind<CalendarRecord> kMirrorEvents = {
    "event", "calendar", KX_TYPE_CALENDAR, &CalendarJsonLine, &ParseCalendarLine, &CalendarRecord::strId};

namespace {

std::string SyncedKey(const char* stored) {
    return std::string("synced.") + stored;
}

// The local edits of the pending rows as records for Write, each with its status bit and the
// handset id an update or delete needs.
template <class Record> struct EditBatch {
    std::vector<MirrorRow> rows;
    std::vector<std::unique_ptr<Record>> records;
    std::vector<Record*> list;

    bool Add(const MirrorKind<Record>& kind, const MirrorRow& row, std::string* error) {
        const std::string& line = row.pending == Pending::kDelete ? row.synced : row.local;
        std::unique_ptr<Record> record(new Record());
        if (!kind.parse(WriteFormOf(line, row.pending, row.handsetId), record.get(), error)) {
            *error = "stored " + std::string(kind.stored) + " " + std::to_string(row.key) + ": " + *error;
            return false;
        }
        rows.push_back(row);
        list.push_back(record.get());
        records.push_back(std::move(record));
        return true;
    }
};

// What the handset confirmed of the write into the mirror: the driver clears the status bit of
// every record it confirmed and writes the handset's id and time into it.
template <class Record>
bool NoteWritten(MirrorStore& store, const MirrorKind<Record>& kind, const EditBatch<Record>& batch,
                 bool complete, MirrorReport* report) {
    report->unwritten = 0;
    for (size_t i = 0; i < batch.records.size(); ++i) {
        const Record& r = *batch.records[i];
        if (r.lFlag & (KX_RECORD_CREATE | KX_RECORD_UPDATE | KX_RECORD_DELETE))
            ++report->unwritten;
        else if (!MarkWritten(store, batch.rows[i], kind.line(r), complete, report))
            return false;
    }
    return true;
}

void PrintReport(const char* noun, const MirrorReport& r) {
    std::printf(
        "%s: from the handset %d added, %d changed, %d deleted; to the handset %d created, %d updated, "
        "%d deleted; %zu conflict%s\n",
        noun, r.added, r.changed, r.deleted, r.created, r.updated, r.removed, r.conflicts.size(),
        r.conflicts.size() == 1 ? "" : "s");
    for (const std::string& conflict : r.conflicts)
        std::printf("  conflict: %s\n", conflict.c_str());
    std::fflush(stdout);
}

} // namespace

std::unique_ptr<MirrorStore> OpenMirror(const Session& session) {
    std::string path, error;
    std::unique_ptr<MirrorStore> store;
    if (MirrorPath(session.options.dataHome, session.options.serial, &path, &error))
        store = MirrorStore::Open(path, &error);
    if (!store)
        std::fprintf(stderr, "kxsync: %s\n", error.c_str());
    return store;
}

template <class Record> int MirrorInit(Session& session, MirrorStore& store, const MirrorKind<Record>& kind) {
    std::vector<MirrorRow> rows;
    if (!store.Rows(kind.stored, &rows)) {
        std::fprintf(stderr, "kxsync: %s\n", store.error().c_str());
        return 1;
    }
    for (const MirrorRow& row : rows)
        if (row.pending != Pending::kNone) {
            std::fprintf(stderr, "kxsync: %s: local edits wait for a sync; run kxsync mirror sync first\n",
                         kind.noun);
            return 1;
        }
    std::vector<std::string> lines;
    session.window.SetHandler([&](uint32_t code, intptr_t value) {
        if (code == KXMessageCode(static_cast<uint32_t>(kind.type), KX_EVENT_RECORD_READ) && value != 0)
            lines.push_back(kind.line(*reinterpret_cast<const Record*>(value)));
    });
    OpenSession(session, session.options.address, session.options.port, /*callbacks=*/false, /*print=*/false);
    double seconds = 0;
    int32_t result = TimedRead(session, kind.type, &seconds);
    CloseSession(session, /*print=*/false);
    if (result != KX_OK) {
        std::fprintf(stderr, "kxsync: %s: the read failed (Read returned %s); the mirror is as it was\n",
                     kind.noun, ResultText(result).c_str());
        return 1;
    }
    bool stored = store.Begin() && store.RemoveAll(kind.stored);
    for (size_t i = 0; stored && i < lines.size(); ++i) {
        MirrorRow row;
        row.kind = kind.stored;
        row.handsetId = MemberOf(lines[i], "id");
        row.modified = MemberOf(lines[i], "modified");
        row.synced = lines[i];
        stored = store.Put(&row);
    }
    if (!stored || !store.SetValue(SyncedKey(kind.stored), UtcNowText()) || !store.Commit()) {
        store.Rollback();
        std::fprintf(stderr, "kxsync: %s; the mirror is as it was\n", store.error().c_str());
        return 1;
    }
    std::printf("%s: %zu read into the mirror\n", kind.noun, lines.size());
    return 0;
}

template <class Record> int MirrorSync(Session& session, MirrorStore& store, const MirrorKind<Record>& kind) {
    if (store.Value(SyncedKey(kind.stored)).empty()) {
        std::fprintf(stderr, "kxsync: %s: the mirror holds none yet; run kxsync mirror init first\n",
                     kind.noun);
        return 1;
    }
    // The log stays on the handset until the mirror has committed what it says.
    SyncOutcome log;
    SyncChanges(session, session.options.address, session.options.port, kind.type, /*json=*/true,
                /*print=*/false, /*clear=*/false, &log);
    if (log.result != KX_OK) {
        std::fprintf(stderr,
                     "kxsync: %s: the handset's change log could not be read (Read returned %s); the mirror "
                     "is as it was\n",
                     kind.noun, ResultText(log.result).c_str());
        return 1;
    }
    std::vector<HandsetChange> changes;
    std::string error;
    MirrorReport report;
    EditBatch<Record> batch;
    bool merged = HandsetChangesOf(log, &changes, &error) && store.Begin() &&
                  MergeHandsetChanges(store, kind.stored, changes, &report);
    std::vector<MirrorRow> rows;
    merged = merged && store.Rows(kind.stored, &rows);
    for (const MirrorRow& row : rows)
        if (row.pending != Pending::kNone && !batch.Add(kind, row, &error))
            merged = false;
    if (!merged) {
        store.Rollback();
        std::fprintf(stderr, "kxsync: %s: %s; the mirror is as it was\n", kind.noun,
                     error.empty() ? store.error().c_str() : error.c_str());
        return 1;
    }

    int32_t written = KX_OK;
    if (!batch.list.empty()) {
        if (OpenSession(session, session.options.address, session.options.port, /*callbacks=*/true,
                        /*print=*/false))
            written = WriteRecords(session, batch.list).result;
        else
            written = KX_FAILED;
        CloseSession(session, /*print=*/false);
    }
    if (written == KX_OK && NoteWritten(store, kind, batch, /*complete=*/true, &report) &&
        report.unwritten == 0 && store.SetValue(SyncedKey(kind.stored), UtcNowText()) && store.Commit()) {
        OpenSession(session, session.options.address, session.options.port, /*callbacks=*/false,
                    /*print=*/false);
        ClearChanges(session, kind.type, log.ids);
        CloseSession(session, /*print=*/false);
        PrintReport(kind.noun, report);
        return 0;
    }

    // Half-way: the handset's changes wait in its log for the next sync, but what it confirmed
    // writing the mirror must know now.
    const std::string storeError = store.error();
    store.Rollback();
    MirrorReport confirmed;
    const bool noted =
        store.Begin() && NoteWritten(store, kind, batch, /*complete=*/false, &confirmed) && store.Commit();
    std::string cause = written != KX_OK || confirmed.unwritten != 0
                            ? "Write returned " + ResultText(written) + ", " +
                                  std::to_string(confirmed.unwritten) + " of " +
                                  std::to_string(batch.list.size()) + " local edits not confirmed"
                            : storeError;
    if (!noted) {
        store.Rollback();
        cause += "; " + store.error() + ", so the next sync may write the confirmed edits twice";
    }
    std::fprintf(stderr,
                 "kxsync: %s: the sync did not complete (%s); the handset's changes stay in its log for the "
                 "next sync\n",
                 kind.noun, cause.c_str());
    return 1;
}

template int MirrorInit(Session&, MirrorStore&, const MirrorKind<ContactRecord>&);
template int MirrorInit(Session&, MirrorStore&, const MirrorKind<CalendarRecord>&);
template int MirrorSync(Session&, MirrorStore&, const MirrorKind<ContactRecord>&);
template int MirrorSync(Session&, MirrorStore&, const MirrorKind<CalendarRecord>&);

} // namespace kxsync
