// kxsync's local mirror against kxphone-sim: a two-way sync with edits and deletions on both sides
// and a conflict, syncs that fail half-way and the next one that completes them, and mirror files
// kxsync refuses to touch.
#include <gtest/gtest.h>

#include <algorithm>
#include <json/json.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using kxtest::CommandRun;
using kxtest::ParseJson;
using Records = std::map<std::string, Json::Value>; // by id

Json::Value Named(const std::string& id, const std::string& given) {
    Json::Value row = kxtest::NamedContact(given);
    row["__id"] = id;
    return row;
}

class KxsyncMirror : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<kxtest::SimFixture>(kxtest::SimOptions{.contacts = 6, .events = 4});
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        ASSERT_TRUE(sim_->store().SetCalendarTracking(true).ok);
    }
    // The serial has a byte that does not belong in a file name.
    CommandRun Run(const std::string& arguments, const std::string& streams = " 2>&1") {
        return kxtest::RunCommand("XDG_DATA_HOME=" + home_.path() + " KXPHONE_ADB=/nonexistent TZ=UTC '" +
                                  kxtest::BinDir() + "/kxsync' --no-progress --serial SN:1 --port " +
                                  std::to_string(sim_->port()) + " " + arguments + streams);
    }
    std::string MirrorFile() const { return home_.path() + "/kxsync/SN%3A1.sqlite"; }

    Records Handset(const char* kind) {
        return kxtest::JsonLinesById(Run(std::string("--json ") + kind + " read", " 2>/dev/null").output);
    }
    Records Mirror(const char* kind) {
        EXPECT_EQ(0, Run(std::string("export ") + kind + " " + home_.path() + "/out.jsonl").exitCode);
        return kxtest::JsonLinesById(kxtest::FileBytes(home_.path() + "/out.jsonl"));
    }
    // Local edits in the write form: each record with its "op".
    void Import(const char* kind, const std::vector<std::pair<const char*, Json::Value>>& edits) {
        kxtest::WriteOpLines(home_.path() + "/in.jsonl", edits);
        CommandRun run = Run(std::string("import ") + kind + " " + home_.path() + "/in.jsonl");
        EXPECT_EQ(0, run.exitCode) << run.output;
    }
    static int Count(const Records& records, const std::string& given) {
        int n = 0;
        for (const auto& r : records)
            n += r.second["fields"]["givenName"][0].asString() == given;
        return n;
    }

    kxtest::TempDir home_{"kx_kxsync_mirror"};
    std::unique_ptr<kxtest::SimFixture> sim_;
};

TEST_F(KxsyncMirror, TwoWaySyncKeepsEveryEditAndTheConflictCopy) {
    ASSERT_EQ(0, Run("mirror init").exitCode);
    Records start = Mirror("contacts");
    ASSERT_EQ(Handset("contacts"), start);
    ASSERT_GE(start.size(), 5u); // the last one is deleted here
    auto id = start.begin();
    const std::string both = (id++)->first, handsetOnly = (id++)->first, gone = (id++)->first,
                      localOnly = (id++)->first;
    Json::Value bothLocal = start[both], localEdit = start[localOnly];
    bothLocal["fields"]["nickname"][0] = "Local";
    localEdit["fields"]["nickname"][0] = "Local";

    const std::string added = sim_->AddContact(kxtest::NamedContact("Handy"));
    ASSERT_TRUE(sim_->ModifyContact(Named(both, "Both")));
    ASSERT_TRUE(sim_->ModifyContact(Named(handsetOnly, "Handset")));
    ASSERT_TRUE(sim_->DeleteContact(gone));
    Import("contacts", {{"update", bothLocal},
                        {"update", localEdit},
                        {"delete", start.rbegin()->second},
                        {"create", ParseJson(R"({"fields":{"givenName":["Neu"]}})")}});
    // The events: a title changed on each side, one created here.
    Records events = Mirror("calendar");
    ASSERT_GE(events.size(), 2u);
    ASSERT_TRUE(sim_->ModifyEvent(
        ParseJson(R"({"title":"Moved on the handset","__id":")" + events.begin()->first + "\"}")));
    Json::Value event = events.rbegin()->second;
    event["title"] = "Moved here";
    Json::Value created = event;
    created.removeMember("id");
    created["title"] = "Made here";
    Import("calendar", {{"update", event}, {"create", created}});

    CommandRun sync = Run("mirror sync");
    EXPECT_EQ(0, sync.exitCode) << sync.output;
    EXPECT_NE(std::string::npos,
              sync.output.find("contacts: from the handset 1 added, 2 changed, 1 deleted; to "
                               "the handset 1 created, 1 updated, 1 deleted; 1 conflict\n"
                               "  conflict: contact " +
                               both + " (" + bothLocal["fields"]["givenName"][0].asString()))
        << sync.output;
    EXPECT_NE(std::string::npos,
              sync.output.find("): changed here, changed on the handset; the handset's version "
                               "kept, the local one saved as conflict copy 1\n"))
        << sync.output;
    EXPECT_NE(std::string::npos,
              sync.output.find("calendar: from the handset 0 added, 1 changed, 0 deleted; to the "
                               "handset 1 created, 1 updated, 0 deleted; 0 conflicts"))
        << sync.output;

    Records handset = Handset("contacts"), mirror = Mirror("contacts");
    EXPECT_EQ(handset, mirror);
    EXPECT_EQ("Both", handset[both]["fields"]["givenName"][0].asString());
    EXPECT_EQ("Handset", handset[handsetOnly]["fields"]["givenName"][0].asString());
    EXPECT_EQ("Local", handset[localOnly]["fields"]["nickname"][0].asString());
    EXPECT_EQ(0u, handset.count(gone));
    EXPECT_EQ(0u, handset.count(start.rbegin()->first));
    EXPECT_EQ(1u, handset.count(added));
    EXPECT_EQ(1, Count(handset, "Neu"));
    std::map<std::string, std::string> titles;
    for (const auto& e : Handset("calendar"))
        titles[e.first] = e.second["title"].asString();
    for (const auto& e : Mirror("calendar"))
        EXPECT_EQ(titles[e.first], e.second["title"].asString()) << e.first;
    EXPECT_EQ("Moved on the handset", titles[events.begin()->first]);
    EXPECT_EQ("Moved here", titles[events.rbegin()->first]);
    EXPECT_EQ(events.size() + 1, titles.size());
    EXPECT_TRUE(sim_->store().ChangeLog("contact").empty());
    EXPECT_TRUE(sim_->store().ChangeLog("calendar").empty());

    CommandRun status = Run("mirror status");
    EXPECT_NE(std::string::npos, status.output.find("local edits: 0 create, 0 update, 0 delete\ncalendar: " +
                                                    std::to_string(events.size() + 1) + " synced"))
        << status.output;
    EXPECT_NE(std::string::npos, status.output.find("conflict copies: 1\n  1: contact " + both))
        << status.output;
    Json::Value copy = ParseJson(Run("--json mirror status", " 2>/dev/null").output);
    copy["record"].removeMember("op"); // the copy is the pending update, ready to import again
    EXPECT_EQ(bothLocal, copy["record"]) << copy;
    CommandRun again = Run("mirror sync contacts");
    EXPECT_NE(std::string::npos,
              again.output.find("from the handset 0 added, 0 changed, 0 deleted; to the handset 0 "
                                "created, 0 updated, 0 deleted; 0 conflicts"))
        << again.output;
}

// A sync stopped or refused half-way keeps the handset's change in its log and out of the mirror,
// notes what the handset confirmed, and the next sync completes it without writing anything twice.
TEST_F(KxsyncMirror, FailedSyncsAreCompletedByTheNext) {
    const struct Row {
        const char* fault;
        const char* options;
        const char* says;
    } rows[] = {
        {"non_json:/tracking/do/changelog:1", "", "the handset's change log could not be read"},
        {"status:-4:/contact/do/create:1", "",
         "Write returned 12 (write refused), 1 of 2 local edits not confirmed"},
        {"stall:3:/contact/do/update:1", "--timeout 1", "Write returned 21 (stopped)"},
        // The handset gone mid-write: every attempt dropped until the time-out stops the driver.
        {"drop:/contact/do/update:-1", "--timeout 2", "Write returned 21 (stopped), 2 of 2 local edits"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        SetUp();
        ASSERT_EQ(0, Run("mirror init contacts").exitCode);
        Records start = Mirror("contacts");
        Json::Value edited = start.begin()->second;
        edited["fields"]["nickname"][0] = "Local";
        Import("contacts",
               {{"update", edited}, {"create", ParseJson(R"({"fields":{"givenName":["Neu"]}})")}});
        const std::string added = sim_->AddContact(kxtest::NamedContact("Handy"));
        ASSERT_TRUE(sim_->AddFault(row.fault));

        CommandRun failed = Run(std::string(row.options) + " mirror sync contacts");
        EXPECT_NE(0, failed.exitCode);
        EXPECT_NE(std::string::npos, failed.output.find(row.says)) << failed.output;
        EXPECT_EQ(0u, Mirror("contacts").count(added));
        EXPECT_EQ(1u, sim_->store().ChangeLog("contact").size());

        sim_->faults().Clear();
        CommandRun next = Run("mirror sync contacts");
        EXPECT_EQ(0, next.exitCode) << next.output;
        Records handset = Handset("contacts");
        EXPECT_EQ(handset, Mirror("contacts"));
        EXPECT_EQ(1, Count(handset, "Neu"));
        EXPECT_EQ("Local", handset[start.begin()->first]["fields"]["nickname"][0].asString());
        EXPECT_EQ(1u, handset.count(added));
        EXPECT_TRUE(sim_->store().ChangeLog("contact").empty());
    }
}

// A record the handset already holds as created here (its answer lost, kxsync killed before the
// mirror noted it, or made on both sides) is taken as that create, not created once more.
TEST_F(KxsyncMirror, ACreateTheHandsetAlreadyHoldsIsNotCreatedTwice) {
    ASSERT_EQ(0, Run("mirror init contacts").exitCode);
    Import("contacts", {{"create", ParseJson(R"({"fields":{"givenName":["Neu"]}})")}});
    sim_->AddContact(kxtest::NamedContact("Neu"));
    CommandRun sync = Run("mirror sync contacts");
    EXPECT_EQ(0, sync.exitCode) << sync.output;
    EXPECT_NE(std::string::npos, sync.output.find("0 added, 0 changed, 0 deleted; to the handset 1 created"))
        << sync.output;
    Records handset = Handset("contacts");
    EXPECT_EQ(1, Count(handset, "Neu"));
    EXPECT_EQ(handset, Mirror("contacts"));
}

// An event created whole but whose exception rows were refused is sent whole once more, never
// created twice.
TEST_F(KxsyncMirror, ACreateConfirmedBeforeARefusalIsNotCreatedTwice) {
    ASSERT_EQ(0, Run("mirror init calendar").exitCode);
    Json::Value copy;
    for (const auto& e : Mirror("calendar"))
        if (e.second["title"].asString() == "Stand-up")
            copy = e.second;
    ASSERT_TRUE(copy.isMember("exceptions"));
    copy.removeMember("id");
    copy["title"] = "Stand-up copy";
    Import("calendar", {{"create", copy}});
    ASSERT_TRUE(sim_->AddFault("status:-4:/calendar/do/create:1:skip=1"));
    EXPECT_EQ(1, Run("mirror sync calendar").exitCode);
    EXPECT_NE(std::string::npos, Run("mirror status").output.find("local edits: 0 create, 1 update"));

    CommandRun next = Run("mirror sync calendar");
    EXPECT_EQ(0, next.exitCode) << next.output;
    int copies = 0;
    for (const auto& e : Handset("calendar"))
        if (e.second["title"].asString() == "Stand-up copy") {
            ++copies;
            EXPECT_EQ(copy["exceptions"], e.second["exceptions"]);
        }
    EXPECT_EQ(1, copies);
}

// vCard and iCalendar exports import back as no edit at all (a record created here and not synced
// yet stays one create); an edited name or title becomes the one update the next sync writes; a
// file that does not parse imports nothing.
TEST_F(KxsyncMirror, ExportedFilesImportBackAsEdits) {
    ASSERT_EQ(0, Run("mirror init").exitCode);
    Import("contacts", {{"create", ParseJson(R"({"fields":{"givenName":["Neu"]}})")}});
    const std::string vcf = home_.path() + "/all.vcf", ics = home_.path() + "/all.ics";
    ASSERT_EQ(0, Run("export contacts " + vcf).exitCode);
    ASSERT_EQ(0, Run("export calendar " + ics).exitCode);
    EXPECT_EQ(0, Run("import contacts " + vcf).exitCode);
    EXPECT_EQ(0, Run("import calendar " + ics).exitCode);
    std::string status = Run("mirror status").output;
    EXPECT_NE(std::string::npos, status.find("local edits: 1 create, 0 update, 0 delete\ncalendar:"))
        << status;
    EXPECT_NE(std::string::npos, status.find("local edits: 0 create, 0 update, 0 delete\nconflict"))
        << status;

    Records contacts = Mirror("contacts");
    const std::string id = contacts.begin()->first, given = contacts[id]["fields"]["givenName"][0].asString();
    // Independent parsers find every seeded contact's given name and every event's title.
    std::vector<std::string> names;
    for (const auto& c : contacts)
        names.push_back(c.second["fields"]["givenName"][0].asString());
    for (const auto& e : Mirror("calendar"))
        names.push_back(e.second["title"].asString());
    kxtest::CommandRun parsed = kxtest::RunCommand(
        "/usr/bin/python3 -c 'import sys, vobject, icalendar\n"
        "for c in vobject.readComponents(open(sys.argv[1], encoding=\"utf-8\").read()): "
        "print(c.n.value.given)\n"
        "for e in icalendar.Calendar.from_ical(open(sys.argv[2], \"rb\").read()).walk(\"VEVENT\"):\n"
        " if \"RECURRENCE-ID\" not in e: print(e[\"SUMMARY\"])' " +
        vcf + " " + ics);
    EXPECT_EQ(0, parsed.exitCode) << parsed.output;
    std::vector<std::string> found = parsed.Lines();
    std::sort(names.begin(), names.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(names, found);
    std::string cards = kxtest::FileBytes(vcf), events = kxtest::FileBytes(ics);
    ASSERT_NE(std::string::npos, cards.find(given));
    ASSERT_NE(std::string::npos, events.find("SUMMARY:Team sync\r\n"));
    std::ofstream(home_.path() + "/bad.vcf") << cards.substr(0, cards.size() / 2);
    CommandRun bad = Run("import contacts " + home_.path() + "/bad.vcf");
    EXPECT_EQ(2, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.output.find("bad.vcf: line ")) << bad.output;
    EXPECT_NE(std::string::npos, bad.output.find("nothing imported")) << bad.output;

    for (size_t at; (at = cards.find(given)) != std::string::npos;)
        cards.replace(at, given.size(), "Renamed");
    events.replace(events.find("SUMMARY:Team sync\r\n"), 17, "SUMMARY:Team moved");
    std::ofstream(vcf, std::ios::binary) << cards;
    std::ofstream(ics, std::ios::binary) << events;
    EXPECT_EQ(0, Run("import contacts " + vcf).exitCode);
    EXPECT_EQ(0, Run("import calendar " + ics).exitCode);
    status = Run("mirror status").output;
    EXPECT_NE(std::string::npos, status.find("local edits: 1 create, 1 update, 0 delete\ncalendar:"))
        << status;
    EXPECT_NE(std::string::npos, status.find("local edits: 0 create, 1 update, 0 delete\nconflict"))
        << status;
    CommandRun sync = Run("mirror sync");
    EXPECT_EQ(0, sync.exitCode) << sync.output;
    Records handset = Handset("contacts");
    EXPECT_EQ("Renamed", handset[id]["fields"]["givenName"][0].asString());
    EXPECT_EQ(1, Count(handset, "Neu"));
    // The file still names the new contact by its local id, which now means the handset's record.
    EXPECT_EQ(0, Run("import contacts " + vcf).exitCode);
    EXPECT_NE(std::string::npos,
              Run("mirror status").output.find("local edits: 0 create, 0 update, 0 delete\ncal"));
    int moved = 0;
    for (const auto& e : Handset("calendar"))
        moved += e.second["title"].asString() == "Team moved";
    EXPECT_EQ(1, moved);
}

// The user_version of a SQLite file sits in bytes 60 to 63 of its header, big-endian.
TEST_F(KxsyncMirror, AMirrorOfAnotherKindIsRefusedAndLeftAlone) {
    ASSERT_EQ(0, Run("mirror status").exitCode);
    const std::string mirror = kxtest::FileBytes(MirrorFile());
    const struct Row {
        std::string bytes;
        const char* says;
    } rows[] = {
        {mirror.substr(0, 60) + std::string("\0\0\0\7", 4) + mirror.substr(64),
         "its schema version is 7, this kxsync knows version 1"},
        {mirror.substr(0, 60) + std::string(4, '\0') + mirror.substr(64), "it is not a kxsync mirror"},
        {mirror.substr(0, 100) + std::string(mirror.size() - 100, 'x'), "it is damaged or not a database"},
        {std::string(4096, 'x'), "it is damaged or not a database"},
    };
    for (const Row& row : rows) {
        std::ofstream(MirrorFile(), std::ios::binary) << row.bytes;
        for (const char* command : {"mirror status", "mirror sync", "import contacts /nonexistent.jsonl"}) {
            CommandRun run = Run(command);
            EXPECT_EQ(1, run.exitCode) << command;
            EXPECT_NE(std::string::npos, run.output.find("kxsync: the mirror " + MirrorFile() +
                                                         " is left as it is: " + row.says))
                << run.output;
            EXPECT_EQ(row.bytes, kxtest::FileBytes(MirrorFile()));
        }
    }
}

} // namespace
