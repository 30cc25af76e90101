// Backup and restore of contacts and events through the driver's Backup and Restore. The driver
// keeps its own file format; kxsync only names the folder. A restore is planned first (the driver
// hands over what it would delete and create, writing nothing), which gives --dry-run, the
// mass-deletion guard of a replace and the counts of the demo.
#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "record_text.h"
#include "session.h"
#include "write_command.h"

namespace kxsync {

namespace {

namespace fs = std::filesystem;

std::string ContactName(intptr_t value) {
    const ContactRecord& r = *reinterpret_cast<const ContactRecord*>(value);
    std::string name;
    for (int32_t type : {KX_CF_GIVEN_NAME, KX_CF_FAMILY_NAME, KX_CF_COMPANY})
        if (const ContactField* f = r.FindField(type))
            if (!f->strData.empty() && (name.empty() || type != KX_CF_COMPANY))
                name += (name.empty() ? "" : " ") + Utf8(f->strData);
    return name.empty() ? "(no name)" : Escaped(name);
}

std::string EventTitle(intptr_t value) {
    const CalendarRecord& r = *reinterpret_cast<const CalendarRecord*>(value);
    const CalendarField* title = r.FirstField(KX_CAL_TITLE);
    return title && !title->strData.empty() ? Escaped(Utf8(title->strData)) : "(no title)";
}

struct Kind {
    const char* word;
    int32_t backupType;
    int32_t dataType;
    const char* file;
    const char* noun;
    std::string (*label)(intptr_t record);
};

const Kind kKinds[] = {
    {"contacts", KX_BACKUP_CONTACT, KX_TYPE_CONTACT, "people.dat", "contacts", &ContactName},
    {"calendar", KX_BACKUP_CALENDAR, KX_TYPE_CALENDAR, "calendar.dat", "events", &EventTitle},
};

const Kind* FindKind(const std::string& word) {
    for (const Kind& k : kKinds)
        if (word == k.word)
            return &k;
    return nullptr;
}

int ModeNumber(const std::string& mode) {
    if (mode == "add-missing")
        return KX_RESTORE_ADD_MISSING;
    if (mode == "add-all")
        return KX_RESTORE_ADD_ALL;
    if (mode == "replace")
        return KX_RESTORE_REPLACE;
    return -1;
}

// The driver reports no progress for these: the bar moves while the call runs and is full when it
// returns.
int32_t WithBar(Session& session, const Kind& kind, const char* what, const std::function<int32_t()>& call,
                double* seconds) {
    const bool draw = session.options.progress && isatty(2);
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    auto started = std::chrono::steady_clock::now();
    auto drawBar = [&](int filled, const char* end) {
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::string bar(30, ' ');
        for (int i = 0; i < filled && i < 30; ++i)
            bar[static_cast<size_t>(i)] = '=';
        std::fprintf(stderr, "\r%s %s [%s] %5.1f s%s", what, kind.noun, bar.c_str(), s, end);
    };
    std::thread ticker;
    if (draw)
        ticker = std::thread([&] {
            std::unique_lock<std::mutex> hold(lock);
            for (int step = 0; !wake.wait_for(hold, std::chrono::milliseconds(200), [&] { return done; });)
                drawBar(++step % 29, "");
        });
    int32_t result = TimedCall(session, kind.dataType, call, seconds);
    if (draw) {
        {
            std::lock_guard<std::mutex> hold(lock);
            done = true;
        }
        wake.notify_all();
        ticker.join();
        drawBar(30, "\n");
    }
    return result;
}

int32_t CallBackup(Session& session, const Kind& kind, const std::string& dir, double* seconds) {
    std::u16string path = Utf16(dir);
    return WithBar(
        session, kind, "backup",
        [&] { return session.api.Backup(kind.backupType, u"", 0, path.c_str(), 0, 0); }, seconds);
}

struct Plan {
    int32_t result = 1;
    size_t deletes = 0, creates = 0;
    std::vector<std::string> deleteNames, createNames;
    // Every record a replace would delete: its label and handset id.
    std::vector<std::pair<std::string, std::u16string>> deleted;
};

constexpr size_t kShown = 5;

Plan MakePlan(Session& session, const Kind& kind, const std::string& dir, int mode) {
    Plan plan;
    std::u16string path = Utf16(dir);
    const uint32_t recordCode = KXMessageCode(static_cast<uint32_t>(kind.dataType), KX_EVENT_RECORD_READ);
    session.window.SetHandler([&](uint32_t code, intptr_t value) {
        if (code != recordCode)
            return;
        bool del;
        std::u16string id;
        if (kind.dataType == KX_TYPE_CONTACT) {
            const ContactRecord* r = reinterpret_cast<const ContactRecord*>(value);
            del = (r->lFlag & KX_RECORD_DELETE) != 0;
            id = r->strPIMID;
        } else {
            const CalendarRecord* r = reinterpret_cast<const CalendarRecord*>(value);
            del = (r->lFlag & KX_RECORD_DELETE) != 0;
            id = r->strId;
        }
        size_t& count = del ? plan.deletes : plan.creates;
        std::vector<std::string>& names = del ? plan.deleteNames : plan.createNames;
        if (++count <= kShown)
            names.push_back(kind.label(value));
        if (del)
            plan.deleted.emplace_back(kind.label(value), id);
    });
    double seconds;
    plan.result = WithBar(
        session, kind, "planning restore of",
        [&] {
            return session.api.Restore(kind.backupType, u"", 0, path.c_str(), 0, mode | KX_RESTORE_PLAN_ONLY,
                                       0);
        },
        &seconds);
    return plan;
}

void PrintNames(const char* verb, size_t count, const std::vector<std::string>& names, const char* noun) {
    std::printf("would %s %zu %s", verb, count, noun);
    for (size_t i = 0; i < names.size(); ++i)
        std::printf("%s%s", i ? ", " : ": ", names[i].c_str());
    std::printf("%s\n", count > names.size() ? ", ..." : "");
}

// A new folder beside dir named after it and the time, for the handset's records before a replace.
bool SafetyFolder(const std::string& dir, std::string* out) {
    fs::path target = fs::path(dir).lexically_normal();
    if (target.filename().empty())
        target = target.parent_path();
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string base = (target.parent_path() / target.filename()).string() + "-before-replace-" + stamp;
    for (int n = 1; n < 100; ++n) {
        std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        std::error_code ec;
        if (fs::create_directory(candidate, ec) && !ec) {
            *out = candidate;
            return true;
        }
    }
    return false;
}

bool OpenQuiet(Session& session, const std::string& address, int port) {
    if (OpenSession(session, address, port, /*callbacks=*/true, /*print=*/false))
        return true;
    CloseSession(session, /*print=*/false);
    std::fprintf(stderr, "kxsync: the driver refused InitSync\n");
    return false;
}

// The folder argument: 0, or the exit status after saying what is wrong.
int CheckFolderArgument(const Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    const std::string what = session.options.command + " " + args[0];
    if (args.size() < 2)
        return UsageError(session, what + " needs a folder DIR");
    if (args.size() > 2)
        return UsageError(session, what + ": unexpected argument " + args[2]);
    return 0;
}

// Deletes the handset records whose ids are given; the number the handset confirmed.
size_t DeleteOnHandset(Session& session, const Kind& kind, const std::vector<std::u16string>& ids) {
    std::vector<ContactRecord> contacts(kind.dataType == KX_TYPE_CONTACT ? ids.size() : 0);
    std::vector<CalendarRecord> events(kind.dataType == KX_TYPE_CALENDAR ? ids.size() : 0);
    KXContactList contactList;
    KXCalendarList eventList;
    for (size_t i = 0; i < contacts.size(); ++i) {
        contacts[i].strPIMID = ids[i];
        contacts[i].lFlag = KX_RECORD_DELETE;
        contactList.push_back(&contacts[i]);
    }
    for (size_t i = 0; i < events.size(); ++i) {
        events[i].strId = ids[i];
        events[i].lFlag = KX_RECORD_DELETE;
        eventList.push_back(&events[i]);
    }
    WriteOutcome outcome = kind.dataType == KX_TYPE_CONTACT ? WriteRecords(session, contactList)
                                                            : WriteRecords(session, eventList);
    return outcome.result == KX_OK ? ids.size() : 0;
}

} // namespace

int RunBackup(Session& session) {
    const std::vector<std::string>& args = session.options.arguments;
    if (int status = CheckFolderArgument(session))
        return status;
    const Kind* kind = FindKind(args[0]);
    const std::string& dir = args[1];
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        std::fprintf(stderr, "kxsync: %s is not a folder\n", dir.c_str());
        return 2;
    }
    if (!OpenQuiet(session, session.options.address, session.options.port))
        return 1;
    double seconds = 0;
    int32_t result = CallBackup(session, *kind, dir, &seconds);
    CloseSession(session, /*print=*/false);
    std::string file = (fs::path(dir) / kind->file).string();
    if (result == KX_OK)
        std::printf("%s backed up into %s (%ju bytes) in %.2f s\n", kind->noun, file.c_str(),
                    static_cast<uintmax_t>(fs::file_size(file, ec)), seconds);
    else
        std::fprintf(stderr, "kxsync: backup failed, Backup returned %s; any earlier %s is unchanged\n",
                     ResultText(result).c_str(), file.c_str());
    return result == KX_OK ? 0 : 1;
}

int RunRestore(Session& session) {
    const Options& o = session.options;
    const std::vector<std::string>& args = o.arguments;
    if (int status = CheckFolderArgument(session))
        return status;
    const Kind* kind = FindKind(args[0]);
    const int mode = ModeNumber(o.mode);
    if (mode < 0)
        return UsageError(session, o.mode.empty() ? "restore needs --mode add-missing, add-all or replace"
                                                  : "restore: --mode " + o.mode +
                                                        " is not add-missing, add-all or replace");
    const std::string& dir = args[1];
    std::string file = (fs::path(dir) / kind->file).string();
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        std::fprintf(stderr, "kxsync: no backup %s\n", file.c_str());
        return 2;
    }
    if (!OpenQuiet(session, o.address, o.port))
        return 1;
    int status = 0;
    Plan plan = MakePlan(session, *kind, dir, mode);
    if (plan.result != KX_OK) {
        std::fprintf(stderr,
                     "kxsync: the restore could not be planned, Restore returned %s; nothing written\n",
                     ResultText(plan.result).c_str());
        CloseSession(session, /*print=*/false);
        return 1;
    }
    std::printf("restore of %s (%s) from %s:\n", kind->noun, o.mode.c_str(), file.c_str());
    PrintNames("delete", plan.deletes, plan.deleteNames, kind->noun);
    PrintNames("create", plan.creates, plan.createNames, kind->noun);
    if (o.dryRun) {
        std::printf("dry run: nothing written\n");
        CloseSession(session, /*print=*/false);
        return 0;
    }
    if (mode == KX_RESTORE_REPLACE) {
        // The handset keeps fewer than half of its records when this goes through: ask first.
        const size_t lost = plan.deletes > plan.creates ? plan.deletes - plan.creates : 0;
        if (lost * 2 > plan.deletes && !o.yes) {
            std::fprintf(stderr,
                         "kxsync: this replace leaves the handset %zu of its %zu %s; run again with --yes "
                         "to go on\n",
                         plan.creates, plan.deletes, kind->noun);
            CloseSession(session, /*print=*/false);
            return 2;
        }
        std::string safety;
        double seconds = 0;
        int32_t saved = SafetyFolder(dir, &safety) ? CallBackup(session, *kind, safety, &seconds) : KX_FAILED;
        if (saved != KX_OK) {
            std::fprintf(stderr, "kxsync: the handset could not be backed up first (%s); nothing replaced\n",
                         safety.empty() ? "no folder" : ResultText(saved).c_str());
            CloseSession(session, /*print=*/false);
            return 1;
        }
        std::printf("handset backed up first into %s\n", safety.c_str());
    }
    double seconds = 0;
    std::u16string path = Utf16(dir);
    int32_t result = WithBar(
        session, *kind, "restore",
        [&] { return session.api.Restore(kind->backupType, u"", 0, path.c_str(), 0, mode, 0); }, &seconds);
    CloseSession(session, /*print=*/false);
    std::printf("Restore returned %s in %.2f s\n", ResultText(result).c_str(), seconds);
    status = result == KX_OK ? 0 : 1;
    return status;
}

int BackupDemoSection(Session& session, const std::string& address, int port) {
    std::printf("\nBackup and restore: back up, delete up to three records on the handset, restore what is "
                "missing\n");
    char scratch[] = "/tmp/kxsync_backup_XXXXXX";
    if (!mkdtemp(scratch)) {
        std::fprintf(stderr, "kxsync: no scratch folder for the backup\n");
        return 1;
    }
    int status = 0;
    if (!OpenQuiet(session, address, port))
        return 1;
    for (const Kind& kind : kKinds) {
        double seconds = 0;
        int32_t backedUp = CallBackup(session, kind, scratch, &seconds);
        Plan before = MakePlan(session, kind, scratch, KX_RESTORE_REPLACE);
        // Records whose label is theirs alone: add-missing matches by name, so a deleted record with a
        // namesake on the handset would not count as missing.
        std::map<std::string, int> uses;
        for (const auto& d : before.deleted)
            ++uses[d.first];
        std::vector<std::u16string> ids;
        for (const auto& d : before.deleted)
            if (uses[d.first] == 1 && ids.size() < 3)
                ids.push_back(d.second);
        size_t deleted = DeleteOnHandset(session, kind, ids);
        Plan missing = MakePlan(session, kind, scratch, KX_RESTORE_ADD_MISSING);
        std::u16string path = Utf16(scratch);
        int32_t restored = TimedCall(
            session, kind.dataType,
            [&] {
                return session.api.Restore(kind.backupType, u"", 0, path.c_str(), 0, KX_RESTORE_ADD_MISSING,
                                           0);
            },
            &seconds);
        Plan after = MakePlan(session, kind, scratch, KX_RESTORE_REPLACE);
        std::printf("  %-9s backed up %zu (Backup %s); deleted %zu on the handset; add-missing created %zu "
                    "(Restore %s); handset %zu -> %zu -> %zu\n",
                    kind.noun, before.creates, ResultText(backedUp).c_str(), deleted, missing.creates,
                    ResultText(restored).c_str(), before.deletes, before.deletes - deleted, after.deletes);
        if (backedUp != KX_OK || restored != KX_OK || after.deletes != before.deletes)
            status = 1;
    }
    CloseSession(session, /*print=*/false);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return status;
}

} // namespace kxsync
