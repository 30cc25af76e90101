// Seeded sample data: deterministic, covering every row kind, and meaning what it says (checked
// with independent tools: Python's zlib for the pictures, dateutil for the recurrences).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "seed.h"
#include "sim_test_util.h"
#include "store.h"
#include "support/test_util.h"
#include "transport/base64.h"

namespace {

std::unique_ptr<kxsim::Store> SeededStore(int contacts, int events, uint64_t seed) {
    std::string error;
    std::unique_ptr<kxsim::Store> s = kxsim::Store::Open(":memory:", &error);
    EXPECT_TRUE(s) << error;
    kxsim::StoreResult r = kxsim::Seed(*s, {contacts, events, seed});
    EXPECT_TRUE(r.ok) << r.error;
    return s;
}

Json::Value AllContacts(kxsim::Store& s) {
    Json::Value out;
    Json::Value ids(Json::objectValue);
    ids["objects"] = s.ContactIds();
    s.ReadContacts(ids["objects"], &out);
    return out;
}

Json::Value AllEvents(kxsim::Store& s) {
    Json::Value out;
    s.ReadEvents(s.EventIds(), &out);
    return out;
}

using simtest::TempPath;

// Runs a Python program with one argument; its standard output and errors.
std::string Python(const std::string& program, const std::string& arg) {
    std::string script = TempPath("check.py");
    std::ofstream(script) << program;
    std::string out = kxtest::RunCommand("python3 " + script + " " + arg + " 2>&1").output;
    std::remove(script.c_str());
    return out;
}

TEST(SimSeed, TheSameOptionsGiveTheSameStore) {
    auto a = SeededStore(60, 60, 42);
    auto b = SeededStore(60, 60, 42);
    auto c = SeededStore(60, 60, 43);
    std::string contactsA = simtest::Compact(AllContacts(*a));
    std::string eventsA = simtest::Compact(AllEvents(*a));
    EXPECT_EQ(contactsA, simtest::Compact(AllContacts(*b)));
    EXPECT_EQ(eventsA, simtest::Compact(AllEvents(*b)));
    EXPECT_NE(contactsA, simtest::Compact(AllContacts(*c)));
    EXPECT_NE(eventsA, simtest::Compact(AllEvents(*c)));
    EXPECT_EQ(a->Counts().contactLog + a->Counts().calendarLog, 0); // the phone's starting state
}

TEST(SimSeed, ContactsCoverEveryRowKindTheDriverMapsOrDrops) {
    auto s = SeededStore(120, 0, 1);
    // What was seen, by kind: "account", "mime", "phone_v2" (types), "im" (protocols), "contact_event"
    // (types), "name" (scripts), and counts of contacts with a property.
    std::map<std::string, std::set<std::string>> seen;
    std::map<std::string, size_t> count;
    const std::map<std::string, const char*> typeColumn = {
        {"phone_v2", "data2"}, {"im", "data5"}, {"contact_event", "data2"}};
    for (const Json::Value& c : AllContacts(*s)) {
        seen["account"].insert(c["account_name"].asString());
        count["starred"] += c["starred"].asString() == "1";
        std::set<std::string> blocks;
        size_t emails = 0;
        for (const Json::Value& row : c["__data"]) {
            std::string mime = row["mimetype"].asString().substr(24);
            seen["mime"].insert(mime);
            if (typeColumn.count(mime))
                seen[mime].insert(row[typeColumn.at(mime)].asString());
            if (mime == "postal-address_v2")
                blocks.insert(row["data2"].asString());
            emails += mime == "email_v2";
            count["multi-line note"] +=
                mime == "note" && row["data1"].asString().find('\n') != std::string::npos;
            if (mime == "photo") {
                std::string b64 = row["data15"].asString();
                std::string png = Base64Decode(b64.data(), b64.size());
                EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
                ++count[png.size() >= 307200 ? "large photo" : "small photo"];
            }
            for (const char* script : {"é", "王", "🌸"})
                if (mime == "name" && row["data1"].asString().find(script) != std::string::npos)
                    seen["name"].insert(script);
        }
        count["three address blocks"] += blocks.count("1") && blocks.count("2") && blocks.count("3");
        count["five e-mails"] += emails >= 5;
    }
    const std::pair<const char*, std::vector<std::string>> needed[] = {
        {"phone_v2", {"1", "2", "3", "4", "5", "6", "7", "9", "10", "14", "19", "0", "8", "12", "17", "20"}},
        {"im", {"-1", "0", "1", "2", "3", "4", "5", "6", "7"}},
        {"contact_event", {"3", "1"}},
        {"mime",
         {"name", "organization", "nickname", "website", "note", "group_membership", "photo", "email_v2",
          "vexo_event_v2"}},
        {"account", {"pcsc"}},
        {"name", {"é", "王", "🌸"}}};
    for (const auto& [kind, values] : needed)
        for (const std::string& v : values)
            EXPECT_TRUE(seen[kind].count(v)) << kind << " " << v;
    EXPECT_GE(seen["account"].size(), 2u); // contacts of other accounts too
    const std::pair<const char*, size_t> atLeast[] = {
        {"large photo", 1},     {"small photo", 5},          {"starred", 5},
        {"multi-line note", 1}, {"three address blocks", 1}, {"five e-mails", 1}};
    for (const auto& [what, n] : atLeast)
        EXPECT_GE(count[what], n) << what;
}

TEST(SimSeed, PicturesArePngFilesThatZlibReads) {
    std::string small = kxsim::MakePng(32, 32, 1), large = kxsim::MakePng(340, 340, 2);
    EXPECT_GT(large.size(), 307200u);
    std::string file = TempPath("pics.bin");
    std::ofstream(file, std::ios::binary) << small << large;
    const char* check = R"PY(
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
pos = 0
while pos < len(data):
    assert data[pos:pos+8] == b'\x89PNG\r\n\x1a\n'
    pos += 8
    idat = b''
    while True:
        n, = struct.unpack('>I', data[pos:pos+4]); kind = data[pos+4:pos+8]; body = data[pos+8:pos+8+n]
        crc, = struct.unpack('>I', data[pos+8+n:pos+12+n])
        assert zlib.crc32(kind + body) == crc, kind
        pos += 12 + n
        if kind == b'IHDR': w, h = struct.unpack('>II', body[:8])
        if kind == b'IDAT': idat += body
        if kind == b'IEND': break
    assert len(zlib.decompress(idat)) == h * (w * 3 + 1)
    print(w, h)
)PY";
    EXPECT_EQ(Python(check, file), "32 32\n340 340\n");
    std::remove(file.c_str());
}

// Every cancelled or moved occurrence is a real occurrence of its event's rule, expanded in the
// event's own (fixed-offset) zone by dateutil.
TEST(SimSeed, ExceptionsFallOnOccurrencesOfTheirRules) {
    auto s = SeededStore(0, 300, 5);
    std::string file = TempPath("events.jsonl");
    std::ofstream out(file);
    size_t checked = 0, rules = 0;
    std::set<std::string> zones;
    std::map<std::string, Json::Value> parents;
    for (const Json::Value& e : AllEvents(*s)) {
        zones.insert(e["eventTimezone"].asString());
        if (!e["parentID"].isString()) {
            parents[e["__id"].asString()] = e;
            rules += e.isMember("rrule");
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
    EXPECT_GE(rules, 50u);
    for (const char* z : {"UTC", "480;60", "-300;60", "60;60"})
        EXPECT_TRUE(zones.count(z)) << z;
    const char* check = R"PY(
import json, sys
from datetime import datetime, timedelta, timezone
from dateutil.rrule import rrulestr
bad = 0
for line in open(sys.argv[1]):
    e = json.loads(line)
    tz = e['eventTimezone']
    offset = 0 if tz == 'UTC' else int(tz.split(';')[0])
    local = timezone(timedelta(minutes=offset))
    start = datetime.fromtimestamp(int(e['dtstart']) / 1000, tz=local)
    rule = e['rrule'].replace('Z', 'Z')
    occ = set(o.astimezone(timezone.utc) for o in rrulestr(rule, dtstart=start).between(
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
    EXPECT_EQ(Python(check, file), "bad 0\n");
    std::remove(file.c_str());
}

TEST(SimSeed, CalendarCoversRulesZonesAndAllDayEvents) {
    auto s = SeededStore(0, 18, 1);
    std::string all = simtest::Compact(AllEvents(*s));
    for (const char* needle :
         {"BYDAY=-1FR", "FREQ=MONTHLY;BYMONTHDAY=1", "BYDAY=MO,WE,FR", "BYDAY=MO,TU,WE,TH,FR", "FREQ=YEARLY",
          "UNTIL=", "COUNT=", "INTERVAL=", "\"allDay\":\"1\"", "\"exdate\"", "\"parentID\"", "\"480;60\"",
          "\"UTC\"", "\"duration\":\"P1D\"", "\"calendar_id\":\"4\"", "家庭聚会"})
        EXPECT_NE(all.find(needle), std::string::npos) << needle;
}

} // namespace
