// Handset-side control: edits "made on the phone" (they enter the change logs), change-log and
// tracking control, the fault rules, the journal and the clock. Reached over HTTP under "/_sim/"
// (plain JSON, never enciphered, never journaled or faulted) and from the command line.
//
//   GET  /_sim/state                         counts, tracking, fault rules
//   POST /_sim/contact/add|modify|delete     a contact object, or {"objects": [...]}
//   POST /_sim/calendar/add|modify|delete    an event row, or {"objects": [...]}
//   GET  /_sim/changelog/contact|calendar    the log as the driver would read it
//   POST /_sim/changelog/contact|calendar/clear
//   POST /_sim/tracking                      {"calendar": true|false}
//   POST /_sim/clock                         {"now": ms} (0 = the real clock)
//   GET|POST|DELETE /_sim/faults             list, add one rule or {"faults": [...]}, clear
//   GET|DELETE /_sim/journal                 {"entries": [...], "unconfirmed": [...]}, clear
#pragma once

#include <json/value.h>

#include <string>

namespace kxsim {

class Store;
class Faults;
class Journal;

extern const char kAdminPrefix[]; // "/_sim/"

struct AdminAnswer {
    int httpStatus = 200;
    Json::Value doc; // {"ok": true, ...} or {"ok": false, "error": "..."}
};

// faults and journal may be null (command-line use on a store file).
AdminAnswer HandleAdmin(Store& store, Faults* faults, Journal* journal, const std::string& method,
                        const std::string& path, const std::string& body);

} // namespace kxsim
