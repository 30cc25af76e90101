// The demo's incremental section: a few edits "on the handset" through the simulator's admin
// paths, the change-log reads that pick up exactly those, and the reads after the clear that
// find nothing.
#include <kxphone/kxphone.h>

#include <cstdio>

#include <json/json.h>

#include "record_text.h"
#include "sync_command.h"

namespace kxsync {

namespace {

const char kContact[] = R"({"account_name":"pcsc","account_type":"com.vexo.android.pcsc","__data":[
    {"mimetype":"vnd.android.cursor.item/name","data2":"%s","data3":"Demo"},
    {"mimetype":"vnd.android.cursor.item/phone_v2","data1":"+49 30 5550%d","data2":"2"}]})";
const char kEvent[] = R"({"calendar_id":"1","title":"%s","dtstart":"1767862800000","dtend":"1767866400000",
    "allDay":"0","eventTimezone":"UTC"})";

Json::Value Parse(const std::string& text) {
    Json::Value value;
    ParseJsonText(text, &value);
    return value;
}

// One handset edit; the id of what it added ("" for other edits or a failure).
std::string Edit(int port, const std::string& what, const std::string& body, bool* ok) {
    Json::Value answer = Parse(AdminCall(port, "POST", "/_sim/" + what, body));
    *ok = *ok && answer["ok"].asBool();
    return answer["objects"][0]["__id"].asString();
}

std::string Filled(const char* form, const char* name, int n = 0) {
    char text[1024];
    std::snprintf(text, sizeof text, form, name, n);
    return text;
}

bool Sync(Session& session, int port, int32_t type, const char* title, size_t expected, bool print) {
    SyncOutcome outcome;
    if (print)
        std::printf("%s\n", title);
    std::fflush(stdout);
    SyncChanges(session, "127.0.0.1", port, type, false, print, true, &outcome);
    size_t total = 0;
    for (const std::vector<std::string>& lines : outcome.lines)
        total += lines.size();
    if (print)
        std::printf("  %zu change(s), Read returned %s%s\n", total, ResultText(outcome.result).c_str(),
                    total == expected ? "" : "  (unexpected)");
    return outcome.result == KX_OK && (!print || total == expected);
}

} // namespace

int SyncDemoSection(Session& session, int port) {
    std::printf("\nIncremental sync: edits on the handset, then only those are read\n");
    bool ok = true;
    // Records to modify and delete later, then a clean log to start from.
    std::string keep = Edit(port, "contact/add", Filled(kContact, "Kept", 1), &ok);
    std::string gone = Edit(port, "contact/add", Filled(kContact, "Gone", 2), &ok);
    std::string moved = Edit(port, "calendar/add", Filled(kEvent, "Planning"), &ok);
    std::string dropped = Edit(port, "calendar/add", Filled(kEvent, "Cancelled review"), &ok);
    ok = Sync(session, port, KX_TYPE_CONTACT, "", 0, false) && ok;
    ok = Sync(session, port, KX_TYPE_CALENDAR, "", 0, false) && ok;

    Edit(port, "contact/add", Filled(kContact, "Added", 3), &ok);
    Edit(port, "contact/modify", R"({"__id":")" + keep + R"(","starred":"1"})", &ok);
    Edit(port, "contact/delete", R"({"__id":")" + gone + R"("})", &ok);
    Edit(port, "calendar/add", Filled(kEvent, "New meeting"), &ok);
    Edit(port, "calendar/modify", R"({"__id":")" + moved + R"(","title":"Planning, moved"})", &ok);
    Edit(port, "calendar/delete", R"({"__id":")" + dropped + R"("})", &ok);
    if (!ok) {
        std::fprintf(stderr, "kxsync: the simulator refused a handset edit\n");
        return 1;
    }
    std::printf("Made on the handset: contacts +1 ~1 -1, events +1 ~1 -1\n");
    ok = Sync(session, port, KX_TYPE_CONTACT, "Contacts since the last sync:", 3, true) && ok;
    ok = Sync(session, port, KX_TYPE_CALENDAR, "Events since the last sync:", 3, true) && ok;
    ok = Sync(session, port, KX_TYPE_CONTACT, "Contacts after the clear:", 0, true) && ok;
    ok = Sync(session, port, KX_TYPE_CALENDAR, "Events after the clear:", 0, true) && ok;
    return ok ? 0 : 1;
}

} // namespace kxsync
