// The record writes. Write runs on the main thread; the driver confirms records with family|4
// messages and leaves the status bit set on every record the handset did not confirm, which is
// what the per-record report is built from.
#include "write_command.h"

#include <kxphone/kxphone.h>
#include <kxphone/record_verify.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include <json/json.h>

#include "record_json.h"
#include "record_text.h"

namespace kxsync {

namespace {

WriteOutcome WriteList(Session& session, int32_t type, uintptr_t list) {
    WriteOutcome outcome;
    session.window.SetHandler([&outcome, type](uint32_t code, intptr_t value) {
        if (code == KXMessageCode(type, KX_EVENT_RECORD_WRITTEN)) {
            ++outcome.confirmed;
        } else if (code == KXMessageCode(type, KX_EVENT_WRITE_FINISHED) ||
                   code == KXMessageCode(type, KX_EVENT_WRITE_FAILED)) {
            outcome.finalCode = code;
            outcome.finalValue = value;
        }
    });
    outcome.result = TimedCall(
        session, type, [&] { return session.api.Write(type, list); }, &outcome.seconds);
    return outcome;
}

// What the report needs of one kind of record.
template <class Record> struct Kind {
    int32_t type;
    const char* noun; // plural
    bool (*parse)(const std::string& line, Record* record, std::string* error);
    std::u16string Record::*id;
    platform::OleDate Record::*modified;
    std::string (*label)(const Record& record);
    std::string (*fieldName)(int32_t type);
};

std::string EventFieldName(int32_t type) {
    switch (type) {
    case KX_CAL_TITLE:
        return "title";
    case KX_CAL_DESCRIPTION:
        return "description";
    case KX_CAL_LOCATION:
        return "location";
    case KX_VERIFY_START_DATE:
        return "start";
    case KX_VERIFY_END_DATE:
        return "end";
    case KX_VERIFY_RECURRENCE_END:
        return "until";
    default:
        return "field" + std::to_string(type);
    }
}

std::string ContactLabel(const ContactRecord& r) {
    std::string name;
    for (int32_t type : {KX_CF_GIVEN_NAME, KX_CF_FAMILY_NAME})
        if (const ContactField* f = r.FindField(type))
            name += (name.empty() ? "" : " ") + Utf8(f->strData);
    return name.empty() ? "(no name)" : Escaped(name);
}

std::string EventLabel(const CalendarRecord& r) {
    const CalendarField* title = r.LastField(KX_CAL_TITLE);
    return title && !title->strData.empty() ? Escaped(Utf8(title->strData)) : "(no title)";
}

const Kind<ContactRecord> kContacts = {KX_TYPE_CONTACT,
                                       "contacts",
                                       &ParseContactLine,
                                       &ContactRecord::strPIMID,
                                       &ContactRecord::strLastModify,
                                       &ContactLabel,
                                       &ContactFieldName};
const Kind<CalendarRecord> kEvents = {KX_TYPE_CALENDAR,
                                      "events",
                                      &ParseCalendarLine,
                                      &CalendarRecord::strId,
                                      &CalendarRecord::dtLastModified,
                                      &EventLabel,
                                      &EventFieldName};

// The records of a write file with their line numbers. Every line is checked before anything is
// sent: half a file written is worse than none. 0, or the exit status after saying what is wrong.
template <class Record>
int LoadRecords(const std::string& path, const Kind<Record>& kind,
                std::vector<std::unique_ptr<Record>>* records, std::vector<int>* lineNumbers) {
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "kxsync: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    int bad = 0, number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        std::unique_ptr<Record> record(new Record());
        std::string error;
        bool parsed = kind.parse(line, record.get(), &error);
        // A line as a read prints it says what the record is, not what to do with it.
        if (parsed && !*OpName(record.get()->lFlag)) {
            parsed = false;
            error = "no \"op\" (create, update or delete)";
        }
        if (!parsed) {
            std::fprintf(stderr, "kxsync: %s:%d: %s\n", path.c_str(), number, error.c_str());
            ++bad;
            continue;
        }
        records->push_back(std::move(record));
        lineNumbers->push_back(number);
    }
    if (bad) {
        std::fprintf(stderr, "kxsync: %d bad line%s in %s; nothing written\n", bad, bad == 1 ? "" : "s",
                     path.c_str());
        return 2;
    }
    return 0;
}

// Asks the driver whether each record fits the handset; prints one line per field that does not.
// The number of records that do not fit.
template <class Record>
size_t VerifyRecords(Session& session, const Kind<Record>& kind,
                     const std::vector<std::unique_ptr<Record>>& records,
                     const std::vector<int>& lineNumbers) {
    size_t misfits = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        KXRecordVerifyBlock block{0, records[i].get(), nullptr, KX_VERIFY_FAILED_ONLY, 0};
        int32_t result = session.api.Verify(kind.type, reinterpret_cast<uintptr_t>(&block));
        if (result == 0)
            continue;
        ++misfits;
        if (result != 1 || !block.results) {
            std::printf("line %d: %s: the driver could not check it (Verify returned %d)\n", lineNumbers[i],
                        kind.label(*records[i]).c_str(), result);
            continue;
        }
        for (const KXRecordVerifyItem& item : *block.results)
            std::printf("line %d: %s: %s would be %s as \"%s\"\n", lineNumbers[i],
                        kind.label(*records[i]).c_str(), kind.fieldName(item.fieldType).c_str(),
                        item.verdict == KX_FIELD_REFUSED ? "refused" : "sent",
                        Escaped(Utf8(item.text)).c_str());
    }
    std::fflush(stdout);
    return misfits;
}

template <class Record> int RunVerify(Session& session, const std::string& path, const Kind<Record>& kind) {
    std::vector<std::unique_ptr<Record>> records;
    std::vector<int> lineNumbers;
    if (int status = LoadRecords(path, kind, &records, &lineNumbers))
        return status;
    size_t misfits = VerifyRecords(session, kind, records, lineNumbers);
    std::fprintf(stderr, "kxsync: %zu of %zu %s would not be written as they are\n", misfits, records.size(),
                 kind.noun);
    return misfits == 0 ? 0 : 1;
}

template <class Record> int RunWrite(Session& session, const std::string& path, const Kind<Record>& kind) {
    std::vector<std::unique_ptr<Record>> records;
    std::vector<int> lineNumbers;
    if (int status = LoadRecords(path, kind, &records, &lineNumbers))
        return status;
    if (session.options.verify && VerifyRecords(session, kind, records, lineNumbers) > 0) {
        std::fprintf(stderr, "kxsync: records in %s do not fit the handset; nothing written\n", path.c_str());
        return 1;
    }
    if (records.empty()) {
        std::fprintf(stderr, "kxsync: no records in %s; nothing written\n", path.c_str());
        return 0;
    }

    std::vector<Record*> list;
    std::vector<int32_t> ops;
    for (const auto& record : records) {
        list.push_back(record.get());
        ops.push_back(record->lFlag);
    }
    if (!OpenSession(session, session.options.address, session.options.port, /*callbacks=*/true,
                     /*print=*/false)) {
        CloseSession(session, /*print=*/false);
        std::fprintf(stderr, "kxsync: the driver refused InitSync; nothing written\n");
        return 1;
    }
    WriteOutcome outcome = WriteRecords(session, list);
    CloseSession(session, /*print=*/false);

    size_t written = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = *records[i];
        const std::string op = OpName(ops[i]);
        const bool ok = (r.lFlag & ops[i]) == 0;
        written += ok;
        std::string id = Utf8(r.*kind.id);
        std::string modified = ok && op != "delete" ? ZonedTimeText(r.*kind.modified) : "";
        std::string error =
            ok ? "" : "not confirmed by the handset (Write returned " + ResultText(outcome.result) + ")";
        std::string line;
        if (session.options.json) {
            Json::Value v(Json::objectValue);
            v["op"] = op;
            v["id"] = id;
            v["modified"] = modified;
            v["error"] = error;
            line = JsonLineText(v);
        } else {
            line = "line " + std::to_string(lineNumbers[i]) + ": " + op;
            if (!id.empty())
                line += " " + id;
            line += ok ? (modified.empty() ? std::string() : " (modified " + modified + ")")
                       : " failed: " + error;
            line += "  " + kind.label(r);
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "kxsync: %zu of %zu %s written in %.2f s, Write returned %s\n", written,
                 records.size(), kind.noun, outcome.seconds, ResultText(outcome.result).c_str());
    return written == records.size() && outcome.result == KX_OK ? 0 : 1;
}

} // namespace

WriteOutcome WriteRecords(Session& session, KXContactList& list) {
    return WriteList(session, KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&list));
}

WriteOutcome WriteRecords(Session& session, KXCalendarList& list) {
    return WriteList(session, KX_TYPE_CALENDAR, reinterpret_cast<uintptr_t>(&list));
}

int RunContactsWrite(Session& session, const std::string& path) {
    return RunWrite(session, path, kContacts);
}

int RunCalendarWrite(Session& session, const std::string& path) {
    return RunWrite(session, path, kEvents);
}

int RunContactsVerify(Session& session, const std::string& path) {
    return RunVerify(session, path, kContacts);
}

int RunCalendarVerify(Session& session, const std::string& path) {
    return RunVerify(session, path, kEvents);
}

} // namespace kxsync
