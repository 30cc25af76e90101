// "kxsync sync contacts|calendar": the incremental read (Read with the change-log bit), its
// records grouped by what happened to them, then ClearChangeLog — only after everything was
// read and printed, and only when the read succeeded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/calendar_record.h>

#include "session.h"

namespace kxsync {

// The groups of a change-log read, in print order.
enum SyncChange { kAdded, kModified, kDeleted, kUnmarked, kSyncChanges };

struct SyncOutcome {
    int32_t result = -1;  // what Read returned
    bool cleared = false; // ClearChangeLog was called
    std::vector<std::string> lines[kSyncChanges];
    KXCalendarIdList ids; // of every event read: the calendar's log is cleared by id
};

// "added", "modified", "deleted", "unmarked".
const char* SyncChangeName(SyncChange change);
// The group of a record's lFlag: 0x20 deleted, 0x08 added, 0x04 modified, else unmarked.
SyncChange SyncChangeOf(int32_t flag);

// One session against the service at address:port: Read(type, change-log bit) with Ctrl-C
// mapped to Stop, the records as lines (JSON lines carry "change"), printed when print, and then,
// when clear is set and the read returned 0, ClearChangeLog (the calendar with the ids of every
// event read).
void SyncChanges(Session& session, const std::string& address, int port, int32_t type, bool json, bool print,
                 bool clear, SyncOutcome* outcome);
// ClearChangeLog of type in an open session (the calendar's entries of ids only). The driver does
// not say whether the handset cleared it: a log left as it was is read again by the next sync.
void ClearChanges(Session& session, int32_t type, const KXCalendarIdList& ids);
// The groups on stdout: readable with a heading per group, or JSON lines only.
void PrintSync(const SyncOutcome& outcome, bool json);

// The demo's incremental section: edits on the handset through the simulator's admin paths,
// the sync that picks up exactly those, then one that finds nothing. Exit status as for commands.
int SyncDemoSection(Session& session, int port);

// A request on the simulator's own admin paths; the answer's body, empty on failure.
std::string AdminCall(int port, const char* method, const std::string& path, const std::string& body);

} // namespace kxsync
