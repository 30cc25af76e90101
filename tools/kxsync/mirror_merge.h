// The mirror's rules for changes from either side, on record lines: what the handset's change log
// does to the mirror (and when a change meets a local edit, which one stays), and what becomes of
// a record the handset confirmed writing.
#pragma once

#include <string>
#include <vector>

#include "mirror_store.h"
#include "sync_command.h"

namespace kxsync {

struct HandsetChange {
    SyncChange change;
    std::string id;
    std::string line; // the read form, without "change"
};

struct MirrorReport {
    int added = 0, changed = 0, deleted = 0;   // applied from the handset
    int created = 0, updated = 0, removed = 0; // written to the handset
    int unwritten = 0;                         // local edits the handset did not confirm
    std::vector<std::string> conflicts;        // one readable line each
};

// The change log's lines (sync_command.h) as changes. False with *error for a line that is not a
// record of the read form.
bool HandsetChangesOf(const SyncOutcome& log, std::vector<HandsetChange>* changes, std::string* error);

// Applies the handset's changes to the rows of kind `stored`, inside the caller's transaction. A
// change whose record is as the mirror last synced it is no change (a log not cleared before is
// read again). A real change meets a local edit of the same record: the same edit on both sides
// settles it, else the handset's version stays and the local one is kept as a conflict copy.
// A record the handset added that holds what a local create holds is that create, now synced.
bool MergeHandsetChanges(MirrorStore& store, const char* stored, const std::vector<HandsetChange>& changes,
                         MirrorReport* report);

// The handset confirmed writing row's local edit; line is the record as written back (with the
// handset's id and time). After a complete write the row becomes synced, or goes for a deletion.
// After one that failed later on (a refusal, a stop) a confirmed record may still lack parts sent
// after it (an event's exception rows): a created one keeps its handset id and stays pending as an
// update, so the next sync sends it whole once more instead of creating it again; an update stays
// pending as it was.
bool MarkWritten(MirrorStore& store, MirrorRow row, const std::string& line, bool complete,
                 MirrorReport* report);

// The row a record's id names: a handset id, or "local:KEY" for a record created here (the mirror's
// view gives it that id until the handset has it; a file exported before then still names the
// same row after). False when there is none.
bool FindRecord(MirrorStore& store, const char* stored, const std::string& id, MirrorRow* row);

// One local edit: op is the write form's "op", line the record line, id the handset id an update
// or delete names. An edit of a record that is as last synced leaves nothing pending. False with
// *error when the mirror has no such record or cannot store it.
bool AddLocalEdit(MirrorStore& store, const char* stored, Pending op, const std::string& id,
                  const std::string& line, std::string* error);

// The mirror's current view of a kind: the local edit where there is one, else the synced state;
// records deleted locally left out, records created locally with their "local:KEY" id.
bool CurrentLines(MirrorStore& store, const char* stored, std::vector<std::string>* lines);

// A readable name for a record line: the contact's name or the event's title.
std::string RecordLabel(const std::string& line);

// The record line without the members that say where and when it was stored ("id", "modified"):
// two records with the same content compare equal.
std::string ContentOf(const std::string& line);
// ContentOf without what the handset adds to a record it creates (an event's calendar, zone and
// iCalendar id): a local create and the handset's copy of it compare equal.
std::string CreatedContentOf(const std::string& line);
// The write form of a stored record line: op and id set ("" when the line is not a record).
std::string WriteFormOf(const std::string& line, Pending op, const std::string& id);
// The record line with another id.
std::string WithId(const std::string& line, const std::string& id);
// A top-level text member of a record line ("" when missing).
std::string MemberOf(const std::string& line, const char* name);

} // namespace kxsync
