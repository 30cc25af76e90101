// The demo's write section: three contacts and three events are created, one of each is changed
// and one deleted, and a full read shows what the handset kept.
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <json/json.h>

#include "platform/oledate.h"
#include "record_json.h"
#include "record_text.h"
#include "session.h"
#include "write_command.h"

namespace kxsync {

namespace {

// Members the handset sets on its own; the rest must read back as written.
const char* const kHandsetMembers[] = {"id", "modified", "calendar", "timeZone", "iCalGUID"};

Json::Value Comparable(const std::string& line) {
    Json::Value v;
    Json::Reader().parse(line, v);
    for (const char* member : kHandsetMembers)
        v.removeMember(member);
    return v;
}

// Both kinds of record through the same steps.
template <class Record> struct DemoKind {
    const char* noun;
    int32_t type;
    std::u16string Record::*id;
    std::string (*line)(const Record&);
};

const DemoKind<ContactRecord> kContacts = {"Contacts", KX_TYPE_CONTACT, &ContactRecord::strPIMID,
                                           &ContactJsonLine};
const DemoKind<CalendarRecord> kEvents = {"Events", KX_TYPE_CALENDAR, &CalendarRecord::strId,
                                          &CalendarJsonLine};

// Writes the records of list with the bit flag; true when every one was confirmed.
template <class Record>
bool WriteStep(Session& session, const DemoKind<Record>& kind, std::vector<Record*> list, int32_t flag,
               const char* done) {
    for (Record* r : list)
        r->lFlag = flag;
    WriteOutcome outcome = WriteRecords(session, list);
    size_t confirmed = 0;
    for (const Record* r : list)
        confirmed += (r->lFlag & flag) == 0 && (flag == KX_RECORD_DELETE || !(r->*kind.id).empty());
    std::printf("%-20s%zu of %zu %s (Write returned %s, %d confirmation messages)\n",
                (std::string(kind.noun) + " " + OpName(flag) + ":").c_str(), confirmed, list.size(), done,
                ResultText(outcome.result).c_str(), outcome.confirmed);
    return confirmed == list.size() && outcome.result == KX_OK;
}

// A full read; the JSON line of every record whose id is in wanted.
template <class Record>
std::map<std::string, std::string> ReadBack(Session& session, const DemoKind<Record>& kind,
                                            const std::set<std::string>& wanted, int32_t* result) {
    std::map<std::string, std::string> found;
    session.window.SetHandler([&](uint32_t code, intptr_t value) {
        if (code != KXMessageCode(kind.type, KX_EVENT_RECORD_READ))
            return;
        const Record& r = *reinterpret_cast<const Record*>(value);
        if (wanted.count(Utf8(r.*kind.id)))
            found[Utf8(r.*kind.id)] = kind.line(r);
    });
    double seconds;
    *result = TimedRead(session, kind.type, &seconds);
    return found;
}

// Creates all three, changes the first (change), deletes the second, reads back. True when the
// handset holds the first and third as written and not the second.
template <class Record>
bool RunKind(Session& session, const DemoKind<Record>& kind, std::vector<std::unique_ptr<Record>>& records,
             const std::function<void(Record*)>& change) {
    Record* changed = records[0].get();
    Record* deleted = records[1].get();
    std::vector<Record*> all;
    for (auto& r : records)
        all.push_back(r.get());
    if (!WriteStep(session, kind, all, KX_RECORD_CREATE, "created"))
        return false;
    change(changed);
    if (!WriteStep(session, kind, {changed}, KX_RECORD_UPDATE, "updated") ||
        !WriteStep(session, kind, {deleted}, KX_RECORD_DELETE, "deleted"))
        return false;

    std::set<std::string> ids;
    for (const Record* r : all)
        ids.insert(Utf8(r->*kind.id));
    int32_t result;
    std::map<std::string, std::string> found = ReadBack(session, kind, ids, &result);
    int same = 0;
    for (const Record* r : {records[0].get(), records[2].get()}) {
        auto it = found.find(Utf8(r->*kind.id));
        if (it != found.end() && Comparable(it->second) == Comparable(kind.line(*r)))
            ++same;
        else
            std::printf("  differs: wrote %s\n           read  %s\n", kind.line(*r).c_str(),
                        it == found.end() ? "nothing" : it->second.c_str());
    }
    bool gone = found.count(Utf8(deleted->*kind.id)) == 0;
    std::printf("%-20s%d of 2 as written, the deleted one %s (Read returned %s)\n",
                (std::string(kind.noun) + " read back:").c_str(), same, gone ? "gone" : "still there",
                ResultText(result).c_str());
    return result == KX_OK && same == 2 && gone;
}

std::unique_ptr<ContactRecord> Contact(std::initializer_list<std::pair<int32_t, const char16_t*>> fields) {
    std::unique_ptr<ContactRecord> r(new ContactRecord());
    for (const auto& f : fields)
        r->AddField(f.first, f.second);
    return r;
}

std::unique_ptr<CalendarRecord> Event(const char16_t* title, platform::OleDate start, int64_t minutes) {
    std::unique_ptr<CalendarRecord> r(new CalendarRecord());
    r->lReminderMinutes = -1; // no alarm unless asked for
    r->AddField(KX_CAL_TITLE, title);
    r->dtStart = start;
    r->dtEnd = start.AddSeconds(minutes * 60);
    return r;
}

} // namespace

int WriteDemoSection(Session& session, const std::string& address, int port) {
    std::printf("\nWriting through the driver: three contacts and three events created, one of each "
                "changed, one deleted, then read back...\n");
    std::fflush(stdout);
    std::vector<std::unique_ptr<ContactRecord>> contacts;
    contacts.push_back(Contact({{KX_CF_GIVEN_NAME, u"Dana"},
                                {KX_CF_FAMILY_NAME, u"Demo"},
                                {KX_CF_MOBILE, u"+1 415-555-0100"},
                                {KX_CF_EMAIL, u"dana@example.com"}}));
    contacts.push_back(Contact({{KX_CF_GIVEN_NAME, u"Dale"}, {KX_CF_FAMILY_NAME, u"Demo"}}));
    contacts.push_back(Contact({{KX_CF_GIVEN_NAME, u"Dora"},
                                {KX_CF_FAMILY_NAME, u"Demo"},
                                {KX_CF_NOTE, u"Written by the demo.\r\nSecond line."}}));

    std::vector<std::unique_ptr<CalendarRecord>> events;
    events.push_back(Event(u"Demo review", platform::OleDate::FromCivil(2026, 3, 2, 10, 0), 60));
    events[0]->lReminderMinutes = 10;
    events[0]->AddField(KX_CAL_LOCATION, u"Room 4");
    events[0]->lRecurType = 2; // weekly on Mondays and Wednesdays
    events[0]->lRecurDayMask = 2 | 8;
    events.push_back(Event(u"Demo to delete", platform::OleDate::FromCivil(2026, 3, 5, 14, 0), 30));
    events.push_back(Event(u"Demo holiday", platform::OleDate::FromCivil(2026, 3, 20), 24 * 60));
    events[2]->bAllDay = 1;

    OpenSession(session, address, port, /*callbacks=*/false, /*print=*/false);
    bool ok = RunKind<ContactRecord>(session, kContacts, contacts, [](ContactRecord* r) {
        r->FindField(KX_CF_MOBILE)->strData = u"+1 415-555-0199";
    });
    ok = RunKind<CalendarRecord>(session, kEvents, events,
                                 [](CalendarRecord* r) {
                                     r->fields.front()->strData = u"Demo review (moved)";
                                     r->dtStart = r->dtStart.AddSeconds(3600);
                                     r->dtEnd = r->dtEnd.AddSeconds(3600);
                                 }) &&
         ok;
    CloseSession(session, /*print=*/false);
    std::printf("Writes:             %s\n", ok ? "all written and read back as written" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace kxsync
