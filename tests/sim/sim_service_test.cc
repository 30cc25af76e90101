// The service protocol over loopback: answer shapes, writes, groups and change logs.
#include <gtest/gtest.h>

#include "service.h"
#include "sim_test_util.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using simtest::Call;
using simtest::Ids;
using simtest::Objects;

const int64_t kClock = 1767225600000; // 2026-01-01 00:00:00 UTC

Json::Value Contact(const std::string& given, const std::string& phone) {
    return kxtest::ParseJson(R"({"account_name":"pcsc","account_type":"com.vexo.android.pcsc","sourceid":"5",
        "__data":[{"mimetype":"vnd.android.cursor.item/name","data2":")" +
                             given + R"("},
        {"mimetype":"vnd.android.cursor.item/phone_v2","data1":")" +
                             phone + R"(","data2":"2","is_primary":"1"}]})");
}

Json::Value Event(const std::string& title) {
    return kxtest::ParseJson(R"({"calendar_id":"4","title":")" + title + R"(","dtstart":"1767862800000",
        "dtend":"1767866400000","allDay":"0","hasAlarm":"1","__data":[{"method":"1","minutes":"15"}],
        "rrule":"FREQ=WEEKLY;WKST=SU;BYDAY=TH","eventTimezone":"480","dirty":"1"})");
}

kxtest::SimOptions Seeded() {
    kxtest::SimOptions o;
    o.contacts = 6;
    o.events = 20;
    o.seed = 7;
    o.clockMs = kClock;
    return o;
}

class SimService : public ::testing::Test {
protected:
    // The tracking change log of one kind ("contact", "calendar") as "id:amd " entries.
    std::string Log(const char* kind) {
        Json::Value which(Json::objectValue);
        which[kind] = 1;
        std::string out;
        const Json::Value log = Call(port, "GET", "/tracking/do/changelog", &which);
        for (const Json::Value& e : log["objects"])
            out += e["__id"].asString() + ":" + e["_add"].asString() + e["_modify"].asString() +
                   e["_delete"].asString() + " ";
        return out;
    }
    kxtest::SimFixture sim{Seeded()};
    int port = sim.port();
};

// The shapes of the read paths reach the driver in the e2e suites; what it never asks for is
// checked here: ids in request order, each row once, unknown ids left out, every value a string.
TEST_F(SimService, ReadsAnswerEachRowOnceInRequestOrder) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    Json::Value req = Ids({"4", "999", "1", "4"});
    Json::Value read = Call(port, "GET", "/contact/do/read", &req);
    ASSERT_EQ(read["objects"].size(), 2u);
    EXPECT_EQ(read["objects"][0]["__id"].asString(), "4");
    EXPECT_EQ(read["objects"][1]["__id"].asString(), "1");
    EXPECT_TRUE(read["objects"][1]["sync4"].isString());
    EXPECT_EQ(read["objects"][1]["__data"][0]["is_primary"].asString(), "0");

    // Exception rows are not listed on their own; asking for a parent and its exception row gives
    // each row once; the fast read carries the parent's identifier and time.
    ASSERT_EQ(Call(port, "GET", "/calendar/do/changelog")["objects"].size(), 20u);
    req = Ids({"3", "4", "3"});
    Json::Value rows = Call(port, "GET", "/calendar/do/read", &req)["objects"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1]["parentID"].asString(), "3");
    req = Ids({"3", "1"});
    Json::Value times = Call(port, "GET", "/calendar/do/fastread", &req);
    ASSERT_EQ(times["objects"].size(), 2u);
    EXPECT_EQ(times["objects"][0]["iCalGUID"].asString(), rows[0]["iCalGUID"].asString());
    EXPECT_EQ(times["objects"][0]["last_update_time"].asString(), rows[0]["last_update_time"].asString());
}

// Answer ids and counts of every write path are in WritePathsAnswerOneObjectPerRecordInOrder.
TEST_F(SimService, ContactUpdatesReplaceTheContactAndStayOutOfTheChangeLog) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    Json::Value ann = Contact("Anna", "+1 555 0199");
    ann["__id"] = "2";
    ann["starred"] = "1";
    Json::Value update = Objects(ann);
    ASSERT_EQ(Call(port, "POST", "/contact/do/update", &update)["status"].asInt(), 0);
    Json::Value req = Ids({"2"});
    Json::Value read = Call(port, "GET", "/contact/do/read", &req);
    EXPECT_EQ(read["objects"][0]["starred"].asString(), "1");
    EXPECT_EQ(read["objects"][0]["__data"][0]["data2"].asString(), "Anna");
    EXPECT_EQ(read["objects"][0]["__data"].size(), 2u);
    EXPECT_EQ(read["objects"][0]["sync4"].asString(), "1767225600000");
    Json::Value times = Call(port, "GET", "/contact/do/fastread", &req);
    EXPECT_EQ(simtest::Compact(times["objects"]), "[{\"__id\":\"2\",\"sync4\":\"1767225600000\"}]");

    EXPECT_EQ(Log("contact"), "");
}

TEST_F(SimService, HandsetEditsFillTheChangeLogsAndClearingEmptiesThem) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string added = sim.AddContact(Contact("New", "+49 30 1234"));
    ASSERT_EQ(added, "7");
    Json::Value mod(Json::objectValue);
    mod["__id"] = "2";
    mod["starred"] = "1";
    ASSERT_TRUE(sim.ModifyContact(mod));
    ASSERT_TRUE(sim.DeleteContact("5"));
    mod["__id"] = "7"; // added, then modified: still an addition
    ASSERT_TRUE(sim.ModifyContact(mod));

    EXPECT_EQ(Log("contact"), "2:010 5:001 7:110 ");

    // Calendar: an edited occurrence shows up as a change of its recurring event.
    std::string event = sim.AddEvent(Event("Weekly"));
    ASSERT_FALSE(event.empty());
    Json::Value moved(Json::objectValue);
    moved["parentID"] = "3";
    moved["originalInstanceTime"] = "1767778200000";
    moved["dtstart"] = "1767780000000";
    moved["dtend"] = "1767780900000";
    ASSERT_FALSE(sim.AddEvent(moved).empty());
    ASSERT_TRUE(sim.DeleteEvent("1"));
    EXPECT_EQ(Log("calendar"), "1:001 3:010 " + event + ":110 ");

    // Clearing calendar entries by id, then the whole contact log.
    Json::Value clear = Ids({"1", "3"});
    clear["calendar"] = "1";
    EXPECT_EQ(Call(port, "GET", "/tracking/do/update", &clear)["status"].asInt(), 0);
    EXPECT_EQ(Log("calendar"), event + ":110 ");
    Json::Value clearContacts(Json::objectValue);
    clearContacts["contact"] = "1";
    EXPECT_EQ(simtest::Compact(Call(port, "GET", "/tracking/do/update", &clearContacts)), "{\"status\":0}");
    EXPECT_EQ(Log("contact"), "");

    // With calendar tracking off, handset edits leave no entry; the driver's tracking request
    // switches it back on.
    ASSERT_TRUE(sim.store().SetCalendarTracking(false).ok);
    ASSERT_TRUE(sim.DeleteEvent("2"));
    EXPECT_EQ(Log("calendar"), event + ":110 ");
    Call(port, "GET", "/calendar/do/set_tracking");
    ASSERT_TRUE(sim.DeleteEvent("5"));
    EXPECT_EQ(Log("calendar"), "5:001 " + event + ":110 ");
}

TEST_F(SimService, CalendarWritesReturnIdsAndGuidsAndReplaceAnOccurrenceOnce) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    Json::Value doc = Objects(Event("Chess club ♟"));
    Json::Value created = Call(port, "PUT", "/calendar/do/create", &doc);
    ASSERT_EQ(created["objects"].size(), 1u);
    std::string id = created["objects"][0]["__id"].asString();
    std::string guid = created["objects"][0]["iCalGUID"].asString();
    EXPECT_EQ(guid.size(), 36u);

    // Exception rows as the driver writes them; the same occurrence twice keeps one row.
    Json::Value ex(Json::objectValue);
    ex["calendar_id"] = "4";
    ex["iCalGUID"] = guid;
    ex["parentID"] = id;
    ex["title"] = "Chess club (moved)";
    ex["dtstart"] = "1768471200000";
    ex["dtend"] = "1768474800000";
    ex["originalInstanceTime"] = "1768467600000";
    Json::Value exDoc = Objects(ex);
    std::string first = Call(port, "PUT", "/calendar/do/create", &exDoc)["objects"][0]["__id"].asString();
    exDoc["objects"][0]["title"] = "Chess club (moved again)";
    std::string second = Call(port, "PUT", "/calendar/do/create", &exDoc)["objects"][0]["__id"].asString();
    EXPECT_EQ(first, second);

    Json::Value req = Ids({id.c_str()});
    Json::Value read = Call(port, "GET", "/calendar/do/read", &req);
    ASSERT_EQ(read["objects"].size(), 2u);
    EXPECT_EQ(read["objects"][0]["title"].asString(), "Chess club ♟");
    EXPECT_EQ(read["objects"][1]["title"].asString(), "Chess club (moved again)");

    // An update without an alarm drops the reminders; the answer keeps the stored identifier.
    Json::Value upd = Event("Chess club");
    upd["__id"] = id;
    upd["hasAlarm"] = "0";
    upd.removeMember("__data");
    Json::Value updDoc = Objects(upd);
    Json::Value updated = Call(port, "POST", "/calendar/do/update", &updDoc);
    EXPECT_EQ(updated["objects"][0]["iCalGUID"].asString(), guid);
    read = Call(port, "GET", "/calendar/do/read", &req);
    EXPECT_FALSE(read["objects"][0].isMember("__data"));
    EXPECT_EQ(read["objects"][0]["hasAlarm"].asString(), "0");

    // Deleting the event takes its exception rows along.
    Json::Value del = Ids({id.c_str()});
    EXPECT_EQ(Call(port, "DELETE", "/calendar/do/delete", &del)["objects"][0]["count"].asString(), "1");
    req = Ids({first.c_str()});
    EXPECT_EQ(Call(port, "GET", "/calendar/do/read", &req)["objects"].size(), 0u);
}

// One answer object per sent record, in order: the id the handset holds ("" when it stored
// nothing, N a new one) and the count; calendar answers always carry "iCalGUID" (g, or - empty).
TEST_F(SimService, WritePathsAnswerOneObjectPerRecordInOrder) {
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
        const Json::Value answer = Call(port, c[0], c[1], &doc);
        std::string got;
        for (const Json::Value& o : answer["objects"]) {
            std::string id = o["__id"].asString();
            bool fresh = !id.empty() && std::string(c[2]).find('"' + id + '"') == std::string::npos;
            got += (got.empty() ? "" : " ") + (fresh ? "N" : id) + ":" + o["count"].asString() +
                   (!o.isMember("iCalGUID") ? ""
                    : o["iCalGUID"] == ""   ? "-"
                                            : "g");
        }
        EXPECT_EQ(got, c[3]) << c[1];
    }
}

TEST_F(SimService, GroupIdsAreCreatedOnFirstUseAndTitlesCarryTheSystemPrefix) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string id = simtest::Group(port, "cmd=get_group_id;value=Chorprobe 🎵");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_id;value=Chorprobe 🎵"), id);
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_title;value=" + id), "Chorprobe 🎵");
    // System groups: the id of the bare title, the title with the prefix.
    std::string friends = simtest::Group(port, "cmd=get_group_id;value=Friends");
    EXPECT_EQ(friends, "2");
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_title;value=2"), "System Group: Friends");
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_id;value=System Group: Friends"), "2");
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_title;value=4711"), "");
    EXPECT_EQ(simtest::Group(port, "cmd=get_group_id;value="), "");
    simtest::Raw bad =
        simtest::Exchange(port, simtest::DriverRequest("GET", "/contact/build_group_id", "cmd=nope"));
    EXPECT_EQ(bad.httpStatus, 400);
    EXPECT_EQ(bad.body, "");
}

TEST_F(SimService, BadRequestsGetANonZeroStatusAndChangeNothing) {
    ASSERT_TRUE(sim.ok()) << sim.error();
    struct Case {
        const char* method;
        const char* path;
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/contact/do/read", "not an envelope", 1},
        {"GET", "/contact/do/read", EncryptPayload("{\"objects\":"), 1},
        {"GET", "/contact/do/read", EncryptPayload("[1,2]"), 1},
        {"GET", "/contact/do/read", EncryptPayload("{\"objects\":{}}"), 2},
        {"GET", "/tracking/do/changelog", EncryptPayload("{\"sms\":1}"), 2},
        // The second contact's rows are not an array: the first is not created either.
        {"PUT", "/contact/do/create",
         EncryptPayload(
             "{\"objects\":[{\"account_name\":\"pcsc\"},{\"account_name\":\"pcsc\",\"__data\":7}]}"),
         5},
        {"PUT", "/calendar/do/create",
         EncryptPayload("{\"objects\":[{\"title\":\"x\"},{\"dtstart\":\"soon\"}]}"), 5},
        {"GET", "/contact/do/create", EncryptPayload("{\"objects\":[]}"), 3},
        {"GET", "/no/such/path", "", 3},
    };
    for (const Case& c : cases) {
        simtest::Raw raw = simtest::Exchange(port, simtest::DriverRequest(c.method, c.path, c.body));
        Json::Value answer = simtest::Parse(simtest::Open(raw.body));
        EXPECT_EQ(answer["status"].asInt(), c.status) << c.method << " " << c.path << " " << c.body;
        EXPECT_NE(raw.httpStatus, 200);
    }
    kxsim::StoreCounts counts = sim.store().Counts();
    EXPECT_EQ(counts.contacts, 6);
    EXPECT_EQ(counts.events, 20);
}

} // namespace

namespace {

// Answers are written by the service's own writer: what JsonCpp reads back must be what went in,
// NUL and control characters included (a raw NUL would end the deciphered text early).
TEST(SimSeal, WritesCompactJsonThatReadsBackUnchanged) {
    Json::Value doc(Json::objectValue);
    doc["status"] = 0;
    doc["big"] = Json::Value(static_cast<Json::UInt64>(18446744073709551615ull));
    doc["neg"] = -4;
    doc["objects"][0]["b"] = std::string("q\"b\\s\r\n\t\x01\x1f", 10) + std::string(1, '\0') + "z 🌸 é";
    doc["objects"][0]["a"] = "";
    doc["objects"][1] = Json::Value(Json::objectValue);
    doc["flag"] = true;
    doc["none"] = Json::Value();
    std::string text = simtest::Open(kxsim::Service::Seal(doc));
    EXPECT_EQ(text,
              "{\"big\":18446744073709551615,\"flag\":true,\"neg\":-4,\"none\":null,\"objects\":[{\"a\":\"\","
              "\"b\":\"q\\\"b\\\\s\\r\\n\\t\\u0001\\u001f\\u0000z 🌸 é\"},{}],\"status\":0}");
    EXPECT_EQ(simtest::Parse(text), doc);
}

} // namespace
