// "kxsync mirror init|sync|status [contacts|calendar]"; "mirror status --json" prints the conflict
// copies, records included, one JSON line each.
#include <cstdio>

#include <json/json.h>

#include "commands.h"
#include "mirror_merge.h"
#include "mirror_sync.h"
#include "record_text.h"

namespace kxsync {

namespace {

const char kUsage[] = "usage: kxsync [options] mirror init|sync|status [contacts|calendar]\n";

void PrintStatus(MirrorStore& store, const char* stored, const char* noun) {
    int synced = 0, edits[4] = {};
    std::vector<MirrorRow> rows;
    store.Rows(stored, &rows); // a failure ends the status with 1
    for (const MirrorRow& row : rows) {
        synced += !row.synced.empty();
        ++edits[static_cast<int>(row.pending)];
    }
    std::string last = store.Value(std::string("synced.") + stored);
    std::printf("%s: %d synced, last sync %s; local edits: %d create, %d update, %d delete\n", noun, synced,
                last.empty() ? "never (kxsync mirror init)" : (last + " UTC").c_str(),
                edits[static_cast<int>(Pending::kCreate)], edits[static_cast<int>(Pending::kUpdate)],
                edits[static_cast<int>(Pending::kDelete)]);
}

// The conflict copies as JSON lines, each with its record as the mirror kept it.
void PrintConflictLines(const std::vector<MirrorConflict>& conflicts) {
    for (const MirrorConflict& c : conflicts) {
        Json::Value v(Json::objectValue), record;
        v["conflict"] = static_cast<Json::Int64>(c.key);
        v["kind"] = c.kind;
        v["id"] = c.handsetId;
        v["local"] = c.localEdit == Pending::kDelete ? "deleted" : "changed";
        v["handset"] = c.handsetChange;
        v["noted"] = c.noted;
        if (ParseJsonText(c.local, &record))
            v["record"] = record;
        std::printf("%s\n", JsonLineText(v).c_str());
    }
}

int Status(MirrorStore& store, const std::string& which, bool json) {
    std::vector<MirrorConflict> conflicts = store.Conflicts();
    if (json) {
        PrintConflictLines(conflicts);
        return store.error().empty() ? 0 : 1;
    }
    std::printf("mirror: %s\n", store.path().c_str());
    ForKinds(which, [&](const auto& kind) {
        PrintStatus(store, kind.stored, kind.noun);
        return 0;
    });
    std::printf("conflict copies: %zu\n", conflicts.size());
    for (const MirrorConflict& c : conflicts)
        std::printf("  %lld: %s %s (%s): %s here, %s on the handset, noted %s UTC\n",
                    static_cast<long long>(c.key), c.kind.c_str(), c.handsetId.c_str(),
                    RecordLabel(c.local).c_str(), c.localEdit == Pending::kDelete ? "deleted" : "changed",
                    c.handsetChange.c_str(), c.noted.c_str());
    std::fflush(stdout);
    return store.error().empty() ? 0 : 1;
}

} // namespace

int RunMirror(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    const std::string action = args.empty() ? "" : args[0];
    const std::string which = args.size() == 2 ? args[1] : "";
    if (args.empty() || args.size() > 2 || (action != "init" && action != "sync" && action != "status") ||
        (args.size() == 2 && which != "contacts" && which != "calendar")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::unique_ptr<MirrorStore> store = OpenMirror(session);
    if (!store)
        return 1;
    if (action == "status")
        return Status(*store, which, session.options.json);
    return ForKinds(which, [&](const auto& kind) {
        return action == "init" ? MirrorInit(session, *store, kind) : MirrorSync(session, *store, kind);
    });
}

} // namespace kxsync
