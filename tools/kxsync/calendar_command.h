// kxsync's calendar commands: "calendar read [--json] [--no-progress]" against a handset
// service, and the calendar part of "demo".
#pragma once

#include <string>
#include <vector>

#include "contacts_command.h"
#include "host_session.h"

namespace kxsync {

// What one calendar read brought: events, how many repeat, and their changed instances.
struct CalendarSummary {
    ReadSessionOutcome session;
    int events = 0;
    int allDay = 0;
    int recurring = 0;
    int withExceptions = 0; // recurring events that carry an exception list
    int modified = 0;       // modified instances over all events
    int removed = 0;        // removed instances over all events
    std::vector<std::string> samples;
};

// Reads the whole calendar through the driver (Read(8, 0)); lines are printed when print is set
// (JSON lines with json) and the first keepSamples readable lines are kept. False when the
// driver cannot be loaded.
bool ReadCalendarEvents(const ServiceAddress& address, bool print, bool json, bool progressBar,
                        size_t keepSamples, CalendarSummary* summary);

// The demo's calendar section: reads the calendar of the simulator at address and prints the
// summary. Exit code as for the commands.
int CalendarDemoSection(const ServiceAddress& address);

// "calendar read ...": args are what follows "calendar". Exit codes: 0 success, 1 the read
// failed, 2 usage.
int CalendarCommand(const ServiceAddress& address, const std::vector<std::string>& args);

} // namespace kxsync
