// The service's write answers and its seeded sample data.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>
#include <set>

#include "json_text.h"
#include "platform/utf.h"
#include "seed.h"
#include "service.h"
#include "sim_test_util.h"
#include "store.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

// One answer object per sent record, in order: the id the handset holds ("" when it stored
// nothing, N a new one) and the count; calendar answers always carry "iCalGUID" (g, or - empty).
TEST(SimService, WritePathsAnswerOneObjectPerRecordInOrder) {
    kxtest::SimOptions o;
    o.contacts = 6;
    o.events = 20;
    o.seed = 7;
    kxtest::SimFixture sim(o);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const char* cases[][4] = {
        {"PUT", "/contact/do/create", R"([{},{}])", "N:1 N:1"},
        {"POST", "/contact/do/update", R"([{"__id":"2"},{"__id":"42"},{},{"__id":"1"}])", "2:1 42:0 :0 1:1"},
        {"DELETE", "/contact/do/delete", R"([{"__id":"3"},{"__id":""},{"__id":"3"}])", "3:1 :0 3:0"},
        {"PUT", "/calendar/do/create", R"([{"title":"A"},{"parentID":"999"},{"title":"B"}])",
         "N:1g :0- N:1g"},
        {"POST", "/calendar/do/update", R"([{"__id":"1"},{"__id":"999"}])", "1:1g 999:0-"},
        {"DELETE", "/calendar/do/delete", R"([{"__id":"1"},{"__id":"1"}])", "1:1g 1:0-"},
    };
    for (auto& c : cases) {
        Json::Value doc(Json::objectValue);
        doc["objects"] = kxtest::ParseJson(c[2]);
        const Json::Value answer = simtest::Call(sim.port(), c[0], c[1], &doc);
        std::string got;
        for (const Json::Value& a : answer["objects"]) {
            std::string id = a["__id"].asString();
            bool fresh = !id.empty() && std::string(c[2]).find('"' + id + '"') == std::string::npos;
            got += (got.empty() ? "" : " ") + (fresh ? "N" : id) + ":" + a["count"].asString() +
                   (!a.isMember("iCalGUID") ? ""
                    : a["iCalGUID"] == ""   ? "-"
                                            : "g");
        }
        EXPECT_EQ(got, c[3]) << c[1];
    }
}

std::unique_ptr<kxsim::Store> SeededStore(int contacts, int events, uint64_t seed) {
    std::string error;
    std::unique_ptr<kxsim::Store> s = kxsim::Store::Open(":memory:", &error);
    EXPECT_TRUE(s) << error;
    kxsim::StoreResult r = kxsim::Seed(*s, {contacts, events, seed});
    EXPECT_TRUE(r.ok) << r.error;
    return s;
}

std::string AllRows(kxsim::Store& s) {
    Json::Value contacts, events;
    s.ReadContacts(s.ContactIds(), &contacts);
    s.ReadEvents(s.EventIds(), &events);
    return simtest::Compact(contacts) + simtest::Compact(events);
}

TEST(SimSeed, TheSameOptionsGiveTheSameStore) {
    auto a = SeededStore(60, 60, 42);
    EXPECT_EQ(AllRows(*a), AllRows(*SeededStore(60, 60, 42)));
    EXPECT_NE(AllRows(*a), AllRows(*SeededStore(60, 60, 43)));
    EXPECT_EQ(a->Counts().contactLog + a->Counts().calendarLog, 0); // the phone's starting state
}

// Every cancelled or moved occurrence is a real occurrence of its event's rule, expanded in the
// event's own (fixed-offset) zone by dateutil.
TEST(SimSeed, ExceptionsFallOnOccurrencesOfTheirRules) {
    auto s = SeededStore(0, 300, 5);
    kxtest::TempDir dir;
    std::ofstream out(dir.path() + "/events.jsonl");
    size_t checked = 0;
    std::map<std::string, Json::Value> parents;
    Json::Value events;
    s->ReadEvents(s->EventIds(), &events);
    for (const Json::Value& e : events) {
        if (!e["parentID"].isString()) {
            parents[e["__id"].asString()] = e;
            if (e.isMember("exdate")) {
                out << simtest::Compact(e) << "\n";
                ++checked;
            }
            continue;
        }
        Json::Value p = parents[e["parentID"].asString()];
        p["exdate"] = e["originalInstanceTime"].asString(); // in milliseconds
        out << simtest::Compact(p) << "\n";
    }
    out.close();
    EXPECT_GE(checked, 5u);
    std::ofstream(dir.path() + "/check.py") << R"PY(
import json, sys
from datetime import datetime, timedelta, timezone
from dateutil.rrule import rrulestr
bad = 0
for line in open(sys.argv[1]):
    e = json.loads(line)
    tz = e['eventTimezone']
    offset = 0 if tz == 'UTC' else int(tz.split(';')[0])
    start = datetime.fromtimestamp(int(e['dtstart']) / 1000, tz=timezone(timedelta(minutes=offset)))
    occ = set(o.astimezone(timezone.utc) for o in rrulestr(e['rrule'], dtstart=start).between(
        start - timedelta(days=1), start + timedelta(days=800), inc=True))
    for part in e['exdate'].split(','):
        if part.isdigit():
            when = datetime.fromtimestamp(int(part) / 1000, tz=timezone.utc)
        else:
            when = datetime.strptime(part, '%Y%m%dT%H%M%SZ').replace(tzinfo=timezone.utc)
        if when not in occ:
            bad += 1
            print('not an occurrence:', e['title'], e['rrule'], part)
print('bad', bad)
)PY";
    EXPECT_EQ(
        kxtest::RunCommand("python3 " + dir.path() + "/check.py " + dir.path() + "/events.jsonl 2>&1").output,
        "bad 0\n");
}

// Text that is not UTF-8 never enters the store, whichever way it comes, and a seeded store
// holds none.
TEST(SimText, BytesThatAreNoTextAreRefused) {
    std::unique_ptr<kxsim::Store> s = SeededStore(300, 20, 1);
    const std::string all = AllRows(*s);
    EXPECT_TRUE(platform::IsValidUtf8(all.data(), all.size()));

    struct Case {
        const char* what;
        std::string objects; // JSON text; raw bytes inside strings
        bool stored;
    };
    const Case cases[] = {
        {"a cut two-byte character",
         R"([{"__data":[{"mimetype":"vnd.android.cursor.item/nickname","data1":"Zo)"
         "\xc3"
         R"(y"}]}])",
         false},
        {"an escaped lone surrogate",
         R"([{"__data":[{"mimetype":"vnd.android.cursor.item/note","data1":"\udc00"}]}])", false},
        {"an overlong form in a member name", "[{\"\xc0\xaf\":\"1\"}]", false},
        {"valid text of every length", R"([{"title":"é王🌸","note":"\u00e9"}])", true},
    };
    for (const Case& c : cases) {
        Json::Value objects, answers;
        std::string errors;
        ASSERT_TRUE(kxsim::ParseJson(c.objects.data(), c.objects.size(), &objects, &errors)) << c.what;
        for (auto write : {&kxsim::Store::CreateContacts, &kxsim::Store::CreateEvents}) {
            kxsim::StoreResult r = ((*s).*write)(objects, kxsim::Origin::kHandset, &answers);
            EXPECT_EQ(c.stored, r.ok) << c.what << ": " << r.error;
            EXPECT_EQ(c.stored, r.error.find("not valid UTF-8") == std::string::npos)
                << c.what << ": " << r.error;
        }
    }
    std::string id;
    EXPECT_FALSE(s->GroupIdForTitle("Fr\xe9nds", &id).ok);
}

// The answer to a read, deciphered.
kxsim::ServiceAnswer Read(kxsim::Service& service, const char* path, const Json::Value& ids) {
    Json::Value request(Json::objectValue);
    request["objects"] = ids;
    return service.Handle("GET", path, kxsim::Service::Seal(request));
}

// The reads write their answers straight from the rows: the bytes are those the tree of the same
// rows is written as, members in key order, every kind of text escaped as before.
TEST(SimText, ReadAnswersAreTheBytesOfTheirTrees) {
    kxtest::TempDir dir;
    std::string error;
    std::unique_ptr<kxsim::Store> s = kxsim::Store::Open(dir.path() + "/store.db", &error);
    ASSERT_TRUE(s) << error;
    ASSERT_TRUE(kxsim::Seed(*s, {40, 60, 3}).ok);
    Json::Value objects = kxtest::ParseJson(
        R"([{"account_name":"pcsc","sourceid":"7","starred":"1","__data":[{"mimetype":"vnd.android.cursor.item/note",
        "data1":"tab\t quote\" back\\ nl\n cr\r bell\u0007 nul\u0000 end","data15":"x","is_primary":"1"}]}])");
    Json::Value answers;
    ASSERT_TRUE(s->CreateContacts(objects, kxsim::Origin::kHandset, &answers).ok);
    kxsim::Service service(*s);
    for (const char* path : {"/contact/do/read", "/calendar/do/read"}) {
        const bool contacts = path[1] == 'c' && path[2] == 'o';
        Json::Value ids = contacts ? s->ContactIds() : s->EventIds();
        ids.append(ids[0]); // asked twice, answered once
        kxsim::ServiceAnswer a = Read(service, path, ids);
        ASSERT_EQ(a.httpStatus, 200) << a.error;
        const std::string text = kxsim::Service::Unseal(a.body);
        Json::Value tree(Json::objectValue);
        tree["status"] = 0;
        ASSERT_TRUE(
            (contacts ? s->ReadContacts(ids, &tree["objects"]) : s->ReadEvents(ids, &tree["objects"])).ok);
        EXPECT_EQ(text, kxsim::Service::Unseal(kxsim::Service::Seal(tree))) << path;
        EXPECT_GE(tree["objects"].size(), contacts ? 41u : 60u);
    }

    // Bytes that are no text, left by an older simulator: the answer is refused and names the
    // member that holds them (the first one in the order the members are written).
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() + "/store.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "UPDATE data SET data1=CAST(X'5AC3' AS TEXT), data2=CAST(X'FF' AS TEXT)"
                     " WHERE raw_contact_id=2; UPDATE events SET title=CAST(X'C0AF' AS TEXT) WHERE _id=3",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    s.reset();
    s = kxsim::Store::Open(dir.path() + "/store.db", &error);
    ASSERT_TRUE(s) << error;
    kxsim::Service again(*s);
    kxsim::ServiceAnswer bad = Read(again, "/contact/do/read", s->ContactIds());
    EXPECT_EQ(bad.httpStatus, 500);
    EXPECT_EQ(bad.error, "stored text is not valid UTF-8 (data1)");
    bad = Read(again, "/calendar/do/read", s->EventIds());
    EXPECT_EQ(bad.httpStatus, 500);
    EXPECT_EQ(bad.error, "stored text is not valid UTF-8 (title)");
    // Contacts without such bytes are still served.
    Json::Value one(Json::arrayValue);
    one.append(s->ContactIds()[0]);
    EXPECT_EQ(Read(again, "/contact/do/read", one).httpStatus, 200);
}

} // namespace
