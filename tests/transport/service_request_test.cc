// The service frame end to end over loopback: what goes out (method, path, enciphered compact
// JSON) and how every kind of answer comes back.
#include <cstring>

#include "support/scripted_peer.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"
#include "transport_test_util.h"

namespace {

using kxtest::HttpAnswer;
using kxtest::PeerAction;
using kxtest::PeerScript;
using kxtest::ScriptedPeer;

using kxtest::IsSessionCtrl;

std::string Deciphered(const std::string& envelope) {
    std::string text = DecryptPayload(envelope.data(), envelope.size());
    return std::string(text.c_str());
}

// Answers every main request with answer (and every confirmation with an empty 200).
class ServicePeer {
public:
    explicit ServicePeer(std::string answer)
        : peer_([answer](int, const std::string& request) {
              return PeerScript{PeerAction::Send(HttpAnswer(IsSessionCtrl(request) ? "" : answer))};
          }) {}
    int Port() const { return peer_.Port(); }
    std::vector<std::string> MainRequests() const {
        std::vector<std::string> out;
        for (const std::string& r : peer_.Requests())
            if (!IsSessionCtrl(r))
                out.push_back(r);
        return out;
    }

private:
    ScriptedPeer peer_;
};

class ServiceRequestTest : public kxtest::TransportTest {};

TEST_F(ServiceRequestTest, SendsCompactEncipheredJsonOrNoBodyAndHandsBackObjects) {
    ServicePeer peer(EncryptPayload("{\"status\":0,\"objects\":[{\"__id\":\"7\"},{\"__id\":\"9\"}]}"));
    PointAt(peer.Port());
    Json::Value body;
    body["objects"][0]["__id"] = "1";
    body["objects"][1]["__id"] = "2";
    ServiceReply reply = ServiceCall(service::kContactRead, body);
    ASSERT_TRUE(reply.ok()) << reply.outcome;
    EXPECT_EQ(reply.transportCode, 0);
    ASSERT_EQ(reply.objects().size(), 2u);
    EXPECT_EQ(reply.objects()[1]["__id"].asString(), "9");

    std::vector<std::string> sent = peer.MainRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(kxtest::RequestLine(sent[0]), "GET /contact/do/read HTTP/1.1");
    const std::string envelope = kxtest::RequestBody(sent[0]);
    EXPECT_EQ(kxtest::HeaderValue(sent[0], "Content-Length"), std::to_string(envelope.size()));
    EXPECT_EQ(Deciphered(envelope), "{\"objects\":[{\"__id\":\"1\"},{\"__id\":\"2\"}]}");

    // Without a body: no length, and an empty list is a successful read of nothing.
    ServicePeer empty(EncryptPayload("{\"status\":0,\"objects\":[]}"));
    PointAt(empty.Port());
    reply = ServiceCall(service::kContactChangeLog, nullptr);
    ASSERT_TRUE(reply.ok());
    EXPECT_TRUE(reply.objects().isArray());
    EXPECT_EQ(reply.objects().size(), 0u);
    sent = empty.MainRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "GET /contact/do/changelog HTTP/1.1\r\nCache-Control: no-cache\r\nSessionID:" +
                           kxtest::HeaderValue(sent[0], "SessionID") + "\r\n\r\n");
}

struct LineCase {
    const ServiceRequest* request;
    const char* line;
};

TEST_F(ServiceRequestTest, EveryRequestOfTheTableGoesOutWithItsMethodAndPath) {
    const LineCase cases[] = {
        {&service::kContactRead, "GET /contact/do/read HTTP/1.1"},
        {&service::kContactChangeLog, "GET /contact/do/changelog HTTP/1.1"},
        {&service::kCalendarRead, "GET /calendar/do/read HTTP/1.1"},
        {&service::kCalendarChangeLog, "GET /calendar/do/changelog HTTP/1.1"},
        {&service::kCalendarSetTracking, "GET /calendar/do/set_tracking HTTP/1.1"},
        {&service::kTrackingChangeLog, "GET /tracking/do/changelog HTTP/1.1"},
        {&service::kTrackingUpdate, "GET /tracking/do/update HTTP/1.1"},
        {&service::kPhoneTime, "GET /info/abc HTTP/1.1"},
        {&service::FastRead(ServiceKind::Contact), "GET /contact/do/fastread HTTP/1.1"},
        {&service::FastRead(ServiceKind::Calendar), "GET /calendar/do/fastread HTTP/1.1"},
        {&service::Write(ServiceKind::Contact, ServiceWrite::Create), "PUT /contact/do/create HTTP/1.1"},
        {&service::Write(ServiceKind::Contact, ServiceWrite::Update), "POST /contact/do/update HTTP/1.1"},
        {&service::Write(ServiceKind::Contact, ServiceWrite::Delete), "DELETE /contact/do/delete HTTP/1.1"},
        {&service::Write(ServiceKind::Calendar, ServiceWrite::Create), "PUT /calendar/do/create HTTP/1.1"},
        {&service::Write(ServiceKind::Calendar, ServiceWrite::Update), "POST /calendar/do/update HTTP/1.1"},
        {&service::Write(ServiceKind::Calendar, ServiceWrite::Delete), "DELETE /calendar/do/delete HTTP/1.1"},
    };
    ServicePeer peer(EncryptPayload("{\"status\":0}"));
    PointAt(peer.Port());
    Json::Value body;
    body["calendar"] = 1;
    for (const LineCase& c : cases)
        EXPECT_TRUE(ServiceCall(*c.request, body).ok()) << c.line;
    std::vector<std::string> sent = peer.MainRequests();
    ASSERT_EQ(sent.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(kxtest::RequestLine(sent[i]), cases[i].line);
}

struct AnswerCase {
    const char* name;
    std::string answer; // body as sent by the peer
    ServiceReply::Outcome outcome;
    int32_t status;
    bool refused;
};

TEST_F(ServiceRequestTest, EveryKindOfAnswerGetsItsOwnOutcome) {
    const AnswerCase cases[] = {
        {"status 0", EncryptPayload("{\"status\":0,\"objects\":[]}"), ServiceReply::kOk, 0, false},
        {"missing status reads as 0", EncryptPayload("{\"objects\":[]}"), ServiceReply::kOk, 0, false},
        {"comments are allowed", EncryptPayload("{\"status\":0 /* fine */}"), ServiceReply::kOk, 0, false},
        {"status -1 refuses", EncryptPayload("{\"status\":-1}"), ServiceReply::kStatus, -1, true},
        {"status -4 refuses", EncryptPayload("{\"status\":-4}"), ServiceReply::kStatus, -4, true},
        {"another status fails", EncryptPayload("{\"status\":3}"), ServiceReply::kStatus, 3, false},
        {"not JSON", EncryptPayload("<html>"), ServiceReply::kBadAnswer, 0, false},
        {"JSON but not an object", EncryptPayload("[1,2]"), ServiceReply::kBadAnswer, 0, false},
        {"status not a number", EncryptPayload("{\"status\":\"zero\"}"), ServiceReply::kBadAnswer, 0, false},
        {"not an envelope", "!!!!", ServiceReply::kBadAnswer, 0, false},
        {"empty body", "", ServiceReply::kNoAnswer, 0, false},
    };
    for (const AnswerCase& c : cases) {
        ServicePeer peer(c.answer);
        PointAt(peer.Port());
        ServiceReply reply = ServiceCall(service::kContactChangeLog, nullptr);
        EXPECT_EQ(reply.outcome, c.outcome) << c.name;
        EXPECT_EQ(reply.status, c.status) << c.name;
        EXPECT_EQ(reply.refused(), c.refused) << c.name;
        EXPECT_EQ(reply.transportCode, 0) << c.name;
    }
}

TEST_F(ServiceRequestTest, TransportFailuresAndCancelKeepTheEngineCode) {
    PointAt(kxtest::UnusedPort());
    ServiceReply failed = ServiceCall(service::kPhoneTime, nullptr);
    EXPECT_EQ(failed.outcome, ServiceReply::kTransport);
    EXPECT_EQ(failed.transportCode, -2);
    EXPECT_FALSE(failed.answered());

    theApp.CancelFlag = true;
    ServiceReply stopped = ServiceCall(service::kPhoneTime, nullptr);
    EXPECT_EQ(stopped.outcome, ServiceReply::kStopped);
    EXPECT_EQ(stopped.transportCode, 21);
}

TEST_F(ServiceRequestTest, GroupRequestsTravelAsPlainText) {
    ServicePeer peer("System Group: Friends");
    PointAt(peer.Port());
    ServiceReply reply = ServiceCallPlain(service::kBuildGroupId, "cmd=get_group_title;value=12");
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.text, "System Group: Friends");
    std::vector<std::string> sent = peer.MainRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(kxtest::RequestLine(sent[0]), "GET /contact/build_group_id HTTP/1.1");
    EXPECT_EQ(kxtest::RequestBody(sent[0]), "cmd=get_group_title;value=12");

    ServicePeer silent("");
    PointAt(silent.Port());
    EXPECT_EQ(ServiceCallPlain(service::kBuildGroupId, "cmd=get_group_id;value=x").outcome,
              ServiceReply::kNoAnswer);
}

TEST(WriteCompactJson, NoBlanksNoLineFeedRawUtf8) {
    Json::Value v;
    v["objects"][0]["__id"] = "1";
    v["objects"][0]["name"] = "Zo\xC3\xAB \xE6\x9D\x8E";
    v["n"] = 5;
    EXPECT_EQ(WriteCompactJson(v),
              "{\"n\":5,\"objects\":[{\"__id\":\"1\",\"name\":\"Zo\xC3\xAB \xE6\x9D\x8E\"}]}");
    EXPECT_EQ(WriteCompactJson(Json::Value(Json::objectValue)), "{}");
}

TEST(ParseServiceAnswer, EnvelopesWithLineBreaksAndPaddingParse) {
    std::string json = "{\"status\":0,\"objects\":[{\"__id\":\"" + std::string(100, '4') + "\"}]}";
    std::string envelope = EncryptPayload(json.c_str()); // long enough for CR LF line breaks
    ASSERT_NE(envelope.find("\r\n"), std::string::npos);
    ServiceReply reply = ParseServiceAnswer(envelope.data(), envelope.size());
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.text, json);
    EXPECT_EQ(reply.objects()[0]["__id"].asString().size(), 100u);
}

} // namespace
