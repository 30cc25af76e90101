// kxsync's write commands against kxphone-sim: lines printed by a read, given an "op", go back to
// the handset, and a read afterwards shows exactly what was written (read -> write -> read gives
// the same lines, but for what the handset itself sets: ids, modification times, the event's zone).
#include <gtest/gtest.h>
#include <json/json.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using kxtest::CommandRun;

class KxsyncWrite : public ::testing::Test {
protected:
    void Start(const kxtest::SimOptions& options) {
        sim_.reset(new kxtest::SimFixture(options));
        ASSERT_TRUE(sim_->ok()) << sim_->error();
    }
    // Pictures go to a folder of the test; the zone is fixed so that dates print alike, one with
    // clock changes, so that times carry offsets of both kinds.
    CommandRun Run(const std::string& arguments, bool stderrToo = false) {
        return kxtest::RunCommand("XDG_DATA_HOME=" + home_.path() + " TZ=Europe/Berlin '" + kxtest::BinDir() +
                                  "/kxsync' --no-progress --port " + std::to_string(sim_->port()) + " " +
                                  arguments + (stderrToo ? " 2>&1" : " 2>/dev/null"));
    }
    std::vector<Json::Value> Read(const char* kind) {
        std::vector<Json::Value> records;
        for (const auto& r : kxtest::JsonLinesById(Run(std::string("--json ") + kind + " read").output))
            records.push_back(r.second);
        return records;
    }
    // Records with their op, one line each; the write's JSON lines.
    CommandRun Write(const char* kind, const std::vector<std::pair<const char*, Json::Value>>& records) {
        kxtest::WriteOpLines(home_.path() + "/write.jsonl", records);
        return Run(std::string("--json ") + kind + " write " + home_.path() + "/write.jsonl");
    }

    kxtest::TempDir home_{"kx_kxsync_write"};
    std::unique_ptr<kxtest::SimFixture> sim_;
};

// A written record as a read gives it back: the handset's own members set aside, a picture by its
// presence (each read stores it in a new file).
Json::Value Written(Json::Value v, std::initializer_list<const char*> handsetMembers = {"id", "modified"}) {
    for (const char* member : handsetMembers)
        v.removeMember(member);
    if (v.isMember("picture"))
        v["picture"] = true;
    return v;
}

TEST_F(KxsyncWrite, BadLinesAreNamedAndNothingIsSent) {
    Start({});
    std::ofstream(home_.path() + "/bad.jsonl") << "{\"op\":\"create\",\"fields\":{\"givenName\":[\"A\"]}}\n"
                                               << "{\"op\":\"create\",\"reminderMinutes\":5}\n\n"
                                               << "{\"op\":\"create\"\n"
                                               << "{\"fields\":{\"givenName\":[\"B\"]}}\n";
    CommandRun run = Run("contacts write " + home_.path() + "/bad.jsonl", true);
    EXPECT_EQ(2, run.exitCode);
    EXPECT_EQ("kxsync: " + home_.path() + "/bad.jsonl:2: unknown member \"reminderMinutes\"",
              run.Lines().at(0));
    EXPECT_EQ(0u, run.Lines().at(1).find("kxsync: " + home_.path() + "/bad.jsonl:4: not JSON ("))
        << run.output;
    // A line as a read prints it says what a record is, not what to do with it.
    EXPECT_EQ("kxsync: " + home_.path() + "/bad.jsonl:5: no \"op\" (create, update or delete)",
              run.Lines().at(2));
    EXPECT_EQ("kxsync: 3 bad lines in " + home_.path() + "/bad.jsonl; nothing written", run.Lines().at(3));
    EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(KxsyncWrite, UnconfirmedRecordsAreReportedAndFailTheRun) {
    Start({});
    ASSERT_TRUE(sim_->AddFault("status:-4:/contact/do/create"));
    CommandRun run =
        Write("contacts", {{"create", kxtest::ParseJson(R"({"fields":{"givenName":["Ann"]}})")}});
    EXPECT_EQ(1, run.exitCode);
    ASSERT_EQ(1u, run.Lines().size()) << run.output;
    Json::Value line = kxtest::ParseJson(run.Lines()[0]);
    EXPECT_EQ(0u, line["error"].asString().find("not confirmed by the handset (Write returned ")) << line;
    EXPECT_EQ("create", line["op"].asString());
    EXPECT_EQ("", line["id"].asString());
}

// Every contact written back unchanged is read back unchanged; a delete removes, a create adds
// exactly its line.
TEST_F(KxsyncWrite, ContactsReadBackAsWritten) {
    Start({.contacts = 30});
    std::vector<Json::Value> before = Read("contacts");
    ASSERT_GE(before.size(), 20u);
    Json::Value created = before[2];
    created.removeMember("id");
    created.removeMember("picture"); // the seeded pictures are larger than a write may send
    created["fields"]["nickname"] = kxtest::ParseJson(R"(["Fresh","Second"])");
    std::vector<std::pair<const char*, Json::Value>> lines;
    for (size_t i = 0; i < before.size(); ++i)
        lines.push_back({i == 1 ? "delete" : "update", before[i]});
    lines.push_back({"create", created});
    CommandRun run = Write("contacts", lines);
    EXPECT_EQ(0, run.exitCode) << run.output;
    ASSERT_EQ(lines.size(), run.Lines().size()) << run.output;
    for (const std::string& l : run.Lines())
        EXPECT_EQ("", kxtest::ParseJson(l)["error"].asString()) << l;
    std::string newId = kxtest::ParseJson(run.Lines().back())["id"].asString();

    std::map<std::string, Json::Value> after = kxtest::JsonLinesById(Run("--json contacts read").output);
    EXPECT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i)
        if (i != 1) {
            EXPECT_EQ(Written(before[i]), Written(after[before[i]["id"].asString()])) << before[i];
        }
    EXPECT_EQ(0u, after.count(before[1]["id"].asString()));
    EXPECT_EQ(Written(created), Written(after[newId]));
}

// Every seeded kind of event (all-day, each repeat kind, moved and cancelled instances) reads as
// JSON and survives an unchanged update; a copy of a repeating event with exceptions is created
// whole.
TEST_F(KxsyncWrite, EventsReadBackAsWritten) {
    Start({.events = 25});
    std::vector<Json::Value> before = Read("calendar");
    ASSERT_EQ(25u, before.size()) << "stdout holds the events only";
    std::vector<std::pair<const char*, Json::Value>> lines;
    std::map<std::string, Json::Value> byTitle;
    for (const Json::Value& e : before) {
        lines.push_back({&e == &before.back() ? "delete" : "update", e});
        byTitle[e["title"].asString()] = e;
    }
    // The read: moved instances with their members, cancelled ones as days, times with the offset of
    // their day.
    Json::Value copy = byTitle["Stand-up"];
    EXPECT_EQ("daily", copy["repeat"]["kind"].asString());
    EXPECT_EQ(kxtest::ParseJson(R"j({"cancelled":["2026-01-10"],"moved":[{"allDay":false,
        "end":"2026-01-08T11:15:00+01:00","original":"2026-01-08","reminderMinutes":20,
        "start":"2026-01-08T11:00:00+01:00","title":"Stand-up (moved)"}]})j"),
              copy["exceptions"]);
    EXPECT_EQ("2026-01-05T10:30:00+01:00", copy["start"].asString());
    EXPECT_EQ("weekly", byTitle["Gym"]["repeat"]["kind"].asString());
    EXPECT_EQ(kxtest::ParseJson(R"(["MO","WE","FR"])"), byTitle["Gym"]["repeat"]["days"]);
    EXPECT_TRUE(byTitle["New Year's Day"]["allDay"].asBool());
    EXPECT_EQ("2026-01-01", byTitle["New Year's Day"]["start"].asString());
    copy.removeMember("id");
    copy["title"] = "Stand-up copy";
    lines.push_back({"create", copy});
    CommandRun run = Write("calendar", lines);
    EXPECT_EQ(0, run.exitCode) << run.output;
    ASSERT_EQ(26u, run.Lines().size()) << run.output;
    std::string newId = kxtest::ParseJson(run.Lines().back())["id"].asString();

    std::map<std::string, Json::Value> after = kxtest::JsonLinesById(Run("--json calendar read").output);
    EXPECT_EQ(25u, after.size());
    // An event is written with this computer's zone, not the one it was read with.
    const auto updated = {"id", "modified", "timeZone"};
    for (size_t i = 0; i + 1 < before.size(); ++i)
        EXPECT_EQ(Written(before[i], updated), Written(after[before[i]["id"].asString()], updated))
            << before[i];
    EXPECT_EQ(0u, after.count(before.back()["id"].asString()));
    const auto created = {"id", "modified", "calendar", "iCalGUID", "timeZone"}; // a new event, in calendar 4
    EXPECT_EQ(Written(copy, created), Written(after[newId], created));
}

// The driver's verifier reads the same file: what would not fit is named, and a write with
// --verify sends nothing while any record does not fit.
TEST_F(KxsyncWrite, VerifyNamesWhatWouldNotFitAndGuardsTheWrite) {
    Start({});
    Json::Value event(Json::objectValue);
    event["title"] = std::string(129, 'T');
    event["location"] = "Caf\u00e9";
    event["start"] = "2026-03-02 10:00:00";
    event["end"] = "2026-03-02 11:00:00";
    std::ofstream(home_.path() + "/events.jsonl")
        << "{\"op\":\"create\"," << Json::FastWriter().write(event).substr(1);
    CommandRun verify = Run("calendar verify " + home_.path() + "/events.jsonl");
    EXPECT_EQ(1, verify.exitCode);
    EXPECT_EQ(
        (std::vector<std::string>{
            "line 1: " + std::string(129, 'T') + ": title would be sent as \"" + std::string(128, 'T') + "\"",
            "line 1: " + std::string(129, 'T') + ": location would be refused as \"Caf\u00e9\""}),
        verify.Lines());
    EXPECT_EQ(1, Run("calendar write --verify " + home_.path() + "/events.jsonl").exitCode);
    EXPECT_TRUE(sim_->Requests("/calendar/do/create").empty());

    event["title"] = "Fits";
    event["location"] = "Room 4";
    std::ofstream(home_.path() + "/events.jsonl")
        << "{\"op\":\"create\"," << Json::FastWriter().write(event).substr(1);
    EXPECT_EQ(0, Run("calendar verify " + home_.path() + "/events.jsonl").exitCode);
}

} // namespace
