// The server itself: each fault kind the driver suites use, rule parsing, skip counts, two
// requests at once, and requests that are not what the driver sends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim_test_util.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

using simtest::Call;
using simtest::DriverRequest;
using simtest::Exchange;

const kxtest::SimOptions kSmall{.contacts = 3, .events = 3};

// Requests create, info, create, create under the rules; per request its outcome: the status, x no
// answer, c answer cut short, n deciphered text not JSON, u no envelope, s answered after a stall.
// Once a rule's count is used up the path is answered normally again; a refused write is not
// carried out. A skip count lets that many requests on the rule's path pass, whether or not
// another rule took them.
TEST(SimFaults, EachKindBreaksTheMatchingRequestsThenGoesAway) {
    const std::string create = "/contact/do/create", info = "/info/abc";
    const std::vector<std::vector<std::string>> cases = {
        // outcomes, contacts stored afterwards, rules
        {"4040", "4", "status:-4:/contact/do/create:2"},
        {"0044", "4", "status:-4:/contact/do/create:2:skip=1"},
        {"10x0", "4", "status:-1:/contact/do/create:1", "drop:/contact/do/create:1:skip=1"},
        {"000c", "6", "close_mid_body:/contact/do/create:1:skip=2"},
        {"0x00", "6", "refuse:1:skip=1"},
        {"0s00", "6", "stall:0.3:/info/abc:1"},
        {"n000", "6", "non_json:/contact/do/create:1"},
        {"0u00", "6", "undecipherable:1:skip=1"},
    };
    for (const auto& c : cases) {
        kxtest::SimFixture sim(kSmall);
        ASSERT_TRUE(sim.ok()) << sim.error();
        for (size_t i = 2; i < c.size(); ++i)
            ASSERT_TRUE(sim.AddFault(c[i])) << c[i];
        std::string outcomes;
        Json::Value doc = kxtest::ParseJson(R"({"objects":[{}]})");
        for (const std::string& path : {create, info, create, create}) {
            simtest::Raw r;
            auto start = std::chrono::steady_clock::now();
            Json::Value a = Call(sim.port(), path == create ? "PUT" : "GET", path, &doc, &r);
            bool stalled = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(300);
            outcomes += r.httpStatus == 0                                      ? 'x'
                        : r.declaredLength != static_cast<long>(r.body.size()) ? 'c'
                        : simtest::Open(r.body).rfind("<html>", 0) == 0        ? 'n'
                        : !a.isObject()                                        ? 'u'
                        : stalled                                              ? 's'
                                  : static_cast<char>('0' - a["status"].asInt());
        }
        EXPECT_EQ(outcomes, c[0]) << c[2];
        EXPECT_EQ(std::to_string(sim.store().Counts().contacts), c[1]) << c[2];
        EXPECT_TRUE(sim.faults().List().empty()) << c[2];
    }
}

TEST(SimFaults, RulesParseFromTheCommandLineForm) {
    struct Case {
        const char* spec;
        const char* json; // "" = rejected
    } cases[] = {
        {"status:-4:/calendar/do/create:-1",
         R"({"count":-1,"kind":"status","path":"/calendar/do/create","value":-4})"},
        {"stall:1.5", R"({"count":1,"kind":"stall","value":1500})"},
        {"refuse:3", R"({"count":3,"kind":"refuse"})"},
        {"drop:/a:1:skip=2", R"({"count":1,"kind":"drop","path":"/a","skip":2})"},
        {"status", ""},
        {"status:x", ""},
        {"refuse:/info/abc:1", ""},
        {"stall:-1", ""},
        {"close_mid_body:0", ""},
        {"explode:1", ""},
        {"drop:/a:1:2", ""},
        {"status:-4:/a:1e30", ""},
    };
    for (const Case& c : cases) {
        kxsim::FaultRule rule;
        std::string error;
        bool ok = kxsim::Faults::ParseSpec(c.spec, &rule, &error);
        EXPECT_EQ(ok, c.json[0] != '\0') << c.spec << " " << error;
        if (ok) {
            EXPECT_EQ(simtest::Compact(kxsim::Faults::ToJson(rule)), c.json) << c.spec;
        }
    }
}

// A request waiting for the store (held by a handset edit) keeps one server thread; the other
// answers meanwhile, and the journal shows the two overlapping.
TEST(SimServer, TwoRequestsAreServedAtOnce) {
    kxtest::SimFixture sim(kSmall);
    std::atomic<bool> held{false}, release{false};
    std::thread edit([&] {
        sim.store().Batch([&](kxsim::Store&) {
            for (int i = 0; i < 300 && !release; ++i, held = true) // 3 s at most, whatever happens
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return true;
        });
    });
    while (!held)
        std::this_thread::yield();
    Json::Value ids = kxtest::ParseJson("{\"objects\":[{\"__id\":\"1\"}]}");
    std::thread read([&] { Call(sim.port(), "GET", "/contact/do/read", &ids); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Exchange(sim.port(), DriverRequest("POST", "/session_ctrl", ""));
    release = true;
    read.join();
    edit.join();
    std::vector<kxsim::JournalEntry> j = sim.Requests();
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].path, "/session_ctrl");
    EXPECT_LT(j[1].arrivedMs, j[0].answeredMs);
}

// Unreadable HTTP is answered and never kills the server; a bad service request gets a non-zero
// status and changes nothing.
TEST(SimServer, MalformedRequestsAreAnsweredAndChangeNothing) {
    kxtest::SimFixture sim(kSmall);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const int port = sim.port();
    // A body larger than the server takes: refused from the header, nothing allocated for it.
    EXPECT_EQ(
        Exchange(port, "GET /contact/do/read HTTP/1.1\r\nContent-Length:99999999999\r\n\r\nx").httpStatus,
        413);
    EXPECT_EQ(Exchange(port, "\x01\x02 not http at all\r\n\r\n").httpStatus, 400);
    // A peer that goes away in the middle of its body.
    Exchange(port, "GET /contact/do/read HTTP/1.1\r\nContent-Length:100\r\n\r\nshort", true);
    EXPECT_EQ(Exchange(port, DriverRequest("GET", "/contact/build_group_id", "cmd=nope")).httpStatus, 400);

    struct Case {
        const char* method;
        const char* path;
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/contact/do/read", "not an envelope", 1},
        {"GET", "/contact/do/read", EncryptPayload(R"({"objects":)"), 1},
        {"GET", "/contact/do/read", EncryptPayload("[1,2]"), 1},
        {"GET", "/contact/do/read", EncryptPayload(R"({"objects":{}})"), 2},
        {"GET", "/tracking/do/changelog", EncryptPayload(R"({"sms":1})"), 2},
        // The second contact's rows are not an array: the first is not created either.
        {"PUT", "/contact/do/create",
         EncryptPayload(R"({"objects":[{"account_name":"pcsc"},{"account_name":"pcsc","__data":7}]})"), 5},
        {"PUT", "/calendar/do/create", EncryptPayload(R"({"objects":[{"title":"x"},{"dtstart":"soon"}]})"),
         5},
        {"GET", "/contact/do/create", EncryptPayload(R"({"objects":[]})"), 3},
        {"GET", "/no/such/path", "", 3},
    };
    for (const Case& c : cases) {
        simtest::Raw raw = Exchange(port, DriverRequest(c.method, c.path, c.body));
        Json::Value answer = simtest::Parse(simtest::Open(raw.body));
        EXPECT_EQ(answer["status"].asInt(), c.status) << c.method << " " << c.path << " " << c.body;
        EXPECT_NE(raw.httpStatus, 200);
    }
    kxsim::StoreCounts counts = sim.store().Counts();
    EXPECT_EQ(counts.contacts, 3);
    EXPECT_EQ(counts.events, 3);
}

} // namespace
