// kxsync's record writes: "contacts write FILE" and "calendar write FILE", and the demo's writes.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

#include "session.h"

namespace kxsync {

struct WriteOutcome {
    int32_t result = -1;    // what Write returned
    uint32_t finalCode = 0; // family|6, or family|5 with finalValue
    intptr_t finalValue = 0;
    int confirmed = 0; // family|4 messages
    double seconds = 0;
};

// Write(type, list) in an open session: progress bar, Ctrl-C mapped to Stop. The records keep what
// the driver wrote into them: the status bit of each unconfirmed one is still set.
WriteOutcome WriteRecords(Session& session, KXContactList& list);
WriteOutcome WriteRecords(Session& session, KXCalendarList& list);

// The commands: FILE holds one record line with "op" per line (blank lines are skipped). Bad
// lines are all named on stderr and nothing is written (status 2); else one line per record on
// stdout, and status 0 only when Write returned 0 and every record was confirmed.
int RunContactsWrite(Session& session, const std::string& path);
int RunCalendarWrite(Session& session, const std::string& path);
// "contacts verify FILE" / "calendar verify FILE": the same file, checked against the handset's
// limits by the driver; one line per field that would not be written as it is. Exit 1 when any
// record does not fit.
int RunContactsVerify(Session& session, const std::string& path);
int RunCalendarVerify(Session& session, const std::string& path);

// The demo's writes against the handset service on address:port: creates, changes and deletes
// contacts and events, reads them back and prints a summary. 0 only when every write was
// confirmed and the read-back matched.
int WriteDemoSection(Session& session, const std::string& address, int port);

} // namespace kxsync
