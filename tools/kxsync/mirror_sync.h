// The mirror's traffic with the handset, for contacts and events alike: a full read into the
// mirror and the two-way sync.
//
// A sync of a kind reads the handset's change log, applies it to the mirror, writes the local edits
// with Write and only when all of that is committed clears the log. A record changed on both sides
// keeps the handset's version; the local one becomes a conflict copy. When anything fails the
// mirror stays as it was, except that what the handset confirmed of the writes is noted (a created
// record's handset id above all), so the next sync neither sends it again nor creates it twice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

#include "mirror_store.h"
#include "session.h"

namespace kxsync {

// What differs between the kinds the mirror holds.
template <class Record> struct MirrorKind {
    const char* stored; // the kind's name in the mirror: "contact", "event"
    const char* noun;   // "contacts", "calendar" (the command-line word)
    int32_t type;       // the driver's data type
    std::string (*line)(const Record& record);
    bool (*parse)(const std::string& line, Record* record, std::string* error);
    std::u16string Record::*id;
};
extern const MirrorKind<ContactRecord> kMirrorContacts;
extern const MirrorKind<CalendarRecord> kMirrorEvents;

// Replaces the kind's synced state with a full read of the handset. Refused while local edits of
// the kind wait for a sync (they would be lost). Exit status: 0, or 1 after saying why on stderr.
template <class Record> int MirrorInit(Session& session, MirrorStore& store, const MirrorKind<Record>& kind);
// The two-way sync of one kind; a report on stdout. 0 only when everything was read, written and
// committed.
template <class Record> int MirrorSync(Session& session, MirrorStore& store, const MirrorKind<Record>& kind);

// The mirror of the session's device serial, opened (created when missing); nullptr after saying
// why on stderr.
std::unique_ptr<MirrorStore> OpenMirror(const Session& session);

// each(kind) for "contacts", "calendar" or, when which is empty, both, in that order, stopping at
// the first that fails (a stopped sync stops both); its exit status.
template <class Each> int ForKinds(const std::string& which, Each each) {
    int status = which != "calendar" ? each(kMirrorContacts) : 0;
    if (status == 0 && which != "contacts")
        status = each(kMirrorEvents);
    return status;
}

} // namespace kxsync
