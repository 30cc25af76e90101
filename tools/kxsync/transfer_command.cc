// "kxsync export contacts|calendar FILE" and "kxsync import contacts|calendar FILE": the mirror's
// current records out to a file, and a file's records in as local edits. Contacts go as vCard,
// events as iCalendar; a file named *.jsonl holds record lines instead: the read form on export,
// the write form (with "op") on import.
#include <kxphone/kxphone.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "icalendar.h"
#include "mirror_merge.h"
#include "mirror_sync.h"
#include "record_text.h"
#include "vcard.h"

namespace kxsync {

namespace {

// A file larger than this is no address book or calendar.
constexpr off_t kMaxFileBytes = 256 << 20;

struct LocalEdit {
    Pending op;
    std::string id;
    std::string line;
};

bool EndsWith(const std::string& text, const char* tail) {
    size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

bool ReadFile(const std::string& path, std::string* text) {
    struct stat info {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    if (!found || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "kxsync: cannot read %s: %s\n", path.c_str(),
                     found ? "not a file" : std::strerror(errno));
        return false;
    }
    if (info.st_size > kMaxFileBytes) {
        std::fprintf(stderr, "kxsync: %s is larger than %lld bytes\n", path.c_str(),
                     static_cast<long long>(kMaxFileBytes));
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    text->resize(static_cast<size_t>(info.st_size));
    if (file && file.read(&(*text)[0], static_cast<std::streamsize>(text->size())))
        return true;
    std::fprintf(stderr, "kxsync: cannot read %s\n", path.c_str());
    return false;
}

// Written beside path and renamed over it when complete: an export that fails leaves no half file.
bool WriteFile(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    bool ok = file && file.write(text.data(), static_cast<std::streamsize>(text.size())) &&
              (file.close(), !file.fail());
    if (ok && std::rename(part.c_str(), path.c_str()) == 0)
        return true;
    std::fprintf(stderr, "kxsync: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    std::remove(part.c_str());
    return false;
}

Pending PendingOfFlag(int32_t flag) {
    return flag & KX_RECORD_CREATE   ? Pending::kCreate
           : flag & KX_RECORD_UPDATE ? Pending::kUpdate
                                     : Pending::kDelete;
}

// The write form's lines of a .jsonl file; every bad line named on stderr.
template <class Record>
bool EditsOfLines(const MirrorKind<Record>& kind, const std::string& path, const std::string& text,
                  std::vector<LocalEdit>* edits) {
    std::istringstream lines(text);
    int number = 0, bad = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        Record record;
        std::string error;
        if (!kind.parse(line, &record, &error)) {
            std::fprintf(stderr, "kxsync: %s:%d: %s\n", path.c_str(), number, error.c_str());
            ++bad;
            continue;
        }
        edits->push_back({PendingOfFlag(record.lFlag), Utf8(record.*kind.id), kind.line(record)});
    }
    return bad == 0;
}

// The kind's standard file form. A contact's picture read from a file needs a folder to live in.
template <class Record> struct FileForm {
    std::string (*write)(const std::vector<Record>& records);
    bool (*read)(const std::string& text, const std::string& pictureFolder, std::vector<Record>* records,
                 std::string* error);
};

bool EventsFromFile(const std::string& text, const std::string&, std::vector<CalendarRecord>* records,
                    std::string* error) {
    return EventsFromIcalendar(text, records, error);
}

FileForm<ContactRecord> FileFormOf(const MirrorKind<ContactRecord>&) {
    return {&ContactsToVcard, &ContactsFromVcard};
}
FileForm<CalendarRecord> FileFormOf(const MirrorKind<CalendarRecord>&) {
    return {&EventsToIcalendar, &EventsFromFile};
}

// The records of a vCard or iCalendar file: one that names a record of the mirror updates it, any
// other is created.
template <class Record>
bool EditsOfFile(MirrorStore& store, const MirrorKind<Record>& kind, const std::string& path,
                 const std::string& text, std::vector<LocalEdit>* edits) {
    std::vector<Record> records;
    std::string error;
    const std::string pictures = store.path().substr(0, store.path().rfind('/')) + "/pictures";
    if (!FileFormOf(kind).read(text, pictures, &records, &error)) {
        std::fprintf(stderr, "kxsync: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    for (const Record& r : records) {
        const std::string id = Utf8(r.*kind.id);
        MirrorRow row;
        const bool known = FindRecord(store, kind.stored, id, &row);
        edits->push_back({known ? Pending::kUpdate : Pending::kCreate, id, kind.line(r)});
    }
    return true;
}

template <class Record>
int Export(MirrorStore& store, const MirrorKind<Record>& kind, const std::string& path) {
    std::vector<std::string> lines;
    if (!CurrentLines(store, kind.stored, &lines)) {
        std::fprintf(stderr, "kxsync: %s\n", store.error().c_str());
        return 1;
    }
    std::string text;
    if (EndsWith(path, ".jsonl")) {
        for (const std::string& line : lines)
            text += line + "\n";
    } else {
        std::vector<Record> records(lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string error;
            if (!kind.parse(WriteFormOf(lines[i], Pending::kUpdate, MemberOf(lines[i], "id")), &records[i],
                            &error)) {
                std::fprintf(stderr, "kxsync: a stored %s: %s; nothing written\n", kind.stored,
                             error.c_str());
                return 1;
            }
            records[i].lFlag = 0;
        }
        text = FileFormOf(kind).write(records);
    }
    if (!WriteFile(path, text))
        return 1;
    std::fprintf(stderr, "kxsync: %zu %s written to %s\n", lines.size(), kind.noun, path.c_str());
    return 0;
}

template <class Record>
int Import(MirrorStore& store, const MirrorKind<Record>& kind, const std::string& path) {
    std::string text;
    std::vector<LocalEdit> edits;
    if (!ReadFile(path, &text))
        return 2;
    if (!(EndsWith(path, ".jsonl") ? EditsOfLines(kind, path, text, &edits)
                                   : EditsOfFile(store, kind, path, text, &edits))) {
        std::fprintf(stderr, "kxsync: nothing imported from %s\n", path.c_str());
        return 2;
    }
    std::string error;
    bool stored = store.Begin();
    for (size_t i = 0; stored && i < edits.size(); ++i)
        stored = AddLocalEdit(store, kind.stored, edits[i].op, edits[i].id, edits[i].line, &error);
    if (!stored || !store.Commit()) {
        store.Rollback();
        std::fprintf(stderr, "kxsync: %s; nothing imported\n",
                     error.empty() ? store.error().c_str() : error.c_str());
        return 1;
    }
    std::fprintf(stderr, "kxsync: %zu %s imported; kxsync mirror sync writes what changed to the handset\n",
                 edits.size(), kind.noun);
    return 0;
}

// "export" or "import": checks the arguments, opens the mirror and runs action for the kind.
template <class Action> int Transfer(Session& session, const char* command, Action action) {
    const std::vector<std::string>& args = session.options.arguments;
    if (args.size() != 2 || (args[0] != "contacts" && args[0] != "calendar")) {
        std::fprintf(stderr, "usage: kxsync [options] %s contacts|calendar FILE\n", command);
        return 2;
    }
    std::unique_ptr<MirrorStore> store = OpenMirror(session);
    if (!store)
        return 1;
    return ForKinds(args[0], [&](const auto& kind) { return action(*store, kind, args[1]); });
}

} // namespace

int RunExport(Session& session) {
    return Transfer(session, "export", [](MirrorStore& store, const auto& kind, const std::string& path) {
        return Export(store, kind, path);
    });
}

int RunImport(Session& session) {
    return Transfer(session, "import", [](MirrorStore& store, const auto& kind, const std::string& path) {
        return Import(store, kind, path);
    });
}

} // namespace kxsync
