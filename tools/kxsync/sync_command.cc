#include "sync_command.h"

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <cstdio>

#include "calendar_command.h"
#include "command_line.h"
#include "commands.h"
#include "contacts_command.h"
#include "record_json.h"
#include "record_text.h"

namespace kxsync {

const char* SyncChangeName(SyncChange change) {
    static const char* const kNames[] = {"added", "modified", "deleted", "unmarked"};
    return change < kSyncChanges ? kNames[change] : "";
}

SyncChange SyncChangeOf(int32_t flag) {
    return flag & KX_RECORD_DELETE   ? kDeleted
           : flag & KX_RECORD_CREATE ? kAdded
           : flag & KX_RECORD_UPDATE ? kModified
                                     : kUnmarked;
}

namespace {

// The record form with what happened as "change" in the place of the status bit's "op": a sync's
// lines are what changed, not what to write.
std::string WithChange(Json::Value v, SyncChange change) {
    v.removeMember("op");
    v["change"] = SyncChangeName(change);
    return JsonLineText(v);
}

} // namespace

void SyncChanges(Session& session, const std::string& address, int port, int32_t type, bool json, bool print,
                 bool clear, SyncOutcome* outcome) {
    const bool contacts = type == KX_TYPE_CONTACT;
    const bool all = session.options.all;
    session.window.SetHandler([&](uint32_t code, intptr_t value) {
        if (code != KXMessageCode(static_cast<uint32_t>(type), KX_EVENT_RECORD_READ) || value == 0)
            return;
        SyncChange change;
        std::string line;
        if (contacts) {
            const ContactRecord& r = *reinterpret_cast<const ContactRecord*>(value);
            change = SyncChangeOf(r.lFlag);
            line = json                 ? WithChange(ContactJsonValue(r), change)
                   : change == kDeleted ? Utf8(r.strPIMID) + "  (deleted)"
                                        : ContactReadableLine(r, all);
        } else {
            const CalendarRecord& r = *reinterpret_cast<const CalendarRecord*>(value);
            change = SyncChangeOf(r.lFlag);
            // A deletion carries nothing but its id.
            line = json                 ? WithChange(CalendarJsonValue(r), change)
                   : change == kDeleted ? Utf8(r.strId) + "  (deleted)"
                                        : CalendarReadableLine(r, all);
            outcome->ids.push_back(r.strId);
        }
        outcome->lines[change].push_back(std::move(line));
    });
    OpenSession(session, address, port, /*callbacks=*/false, /*print=*/false);
    double seconds = 0;
    outcome->result = TimedCall(
        session, type, [&] { return session.api.Read(type, KX_READ_CHANGE_LOG); }, &seconds);
    if (print)
        PrintSync(*outcome, json);
    // Only a complete read may clear, and only once the changes are out: the host has to hold
    // every change first.
    if (clear && outcome->result == KX_OK) {
        ClearChanges(session, type, outcome->ids);
        outcome->cleared = true;
    }
    CloseSession(session, /*print=*/false);
}

void ClearChanges(Session& session, int32_t type, const KXCalendarIdList& ids) {
    session.api.ClearChangeLog(type, type == KX_TYPE_CONTACT ? 0 : reinterpret_cast<uintptr_t>(&ids));
}

void PrintSync(const SyncOutcome& outcome, bool json) {
    for (int change = 0; change < kSyncChanges; ++change) {
        const std::vector<std::string>& lines = outcome.lines[change];
        if (!json && !lines.empty())
            std::printf("%s (%zu):\n", SyncChangeName(static_cast<SyncChange>(change)), lines.size());
        for (const std::string& line : lines)
            std::printf(json ? "%s\n" : "  %s\n", line.c_str());
    }
    std::fflush(stdout);
}

int RunSync(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    if (args.size() != 1)
        return UsageError(session, "sync " + args[0] + ": unexpected argument " + args[1]);
    const int32_t type = args[0] == "contacts" ? KX_TYPE_CONTACT : KX_TYPE_CALENDAR;
    SyncOutcome outcome;
    SyncChanges(session, session.options.address, session.options.port, type, session.options.json,
                /*print=*/true, !session.options.keepLog, &outcome);
    std::fprintf(stderr, "kxsync: %zu added, %zu modified, %zu deleted, %zu unmarked; Read returned %s; %s\n",
                 outcome.lines[kAdded].size(), outcome.lines[kModified].size(),
                 outcome.lines[kDeleted].size(), outcome.lines[kUnmarked].size(),
                 ResultText(outcome.result).c_str(),
                 outcome.cleared ? "change log cleared" : "change log kept");
    return outcome.result == KX_OK ? 0 : 1;
}

} // namespace kxsync
