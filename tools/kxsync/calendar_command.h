// kxsync's calendar: "calendar read [--json]" and the demo's calendar section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/calendar_record.h>

#include "session.h"

namespace kxsync {

// What one full calendar read brought: events, how many repeat, and their changed instances.
struct CalendarSummary {
    int32_t result = -1; // what Read(8, 0) returned
    int events = 0;
    int allDay = 0;
    int recurring = 0;
    int withExceptions = 0; // events that carry an exception list
    int modified = 0;       // moved or changed instances over all events
    int removed = 0;        // cancelled instances over all events
    double seconds = 0;
    std::vector<std::string> samples; // readable lines of the first events
};

// Runs Read(8, 0) in an open session. print: every event on stdout as it arrives (JSON lines
// with json, readable lines with every member with all). The first keepSamples events are kept as
// readable lines.
CalendarSummary ReadCalendarEvents(Session& session, bool print, bool json, size_t keepSamples,
                                   bool all = false);

// The demo's calendar section: points the driver at the handset service on address:port, reads
// the calendar and prints the summary. Exit status as for the commands.
int CalendarDemoSection(Session& session, const std::string& address, int port);

// One readable line of an event, as "calendar read" prints it (all: every member).
std::string CalendarReadableLine(const CalendarRecord& r, bool all = false);

} // namespace kxsync
