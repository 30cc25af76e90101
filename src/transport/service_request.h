// The frame every exchange with the handset service shares: the request table (method, path,
// time-out, body kind of each request), and the one sequence readers and writers run for an
// exchange — write the JSON compactly, encipher, send through CHttpHelper to the phone's
// BaseUrl, decipher up to the first NUL, parse, check "status". Nobody else repeats it.
//
// Any thread may call; each call uses its own CHttpHelper. Results never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include <json/json.h>

#include "transport/fast_json.h"

enum class HttpMethod { Get, Put, Post, Delete };

// How a request's body and answer travel.
enum class ServiceBody {
    Enciphered, // JSON, enciphered both ways
    Plain,      // bytes sent and answered as they are (group ids and titles)
    None,       // no body, no "Content-Length:"; the answer is enciphered JSON
};

struct ServiceRequest {
    HttpMethod method;
    const char16_t* path;
    uint32_t timeoutSeconds;
    ServiceBody body;
    // A cancel ends no exchange in flight, only the waits and retries around it: a write's answer
    // names what the handset already stored, and losing it would store it twice next time.
    bool finishInFlight = false;
};

// The data-type word of the requests that exist for both kinds ("contact" / "calendar").
enum class ServiceKind { Contact, Calendar };
enum class ServiceWrite { Create, Update, Delete };

// The request table. Each constant is the one definition of its request.
namespace service {
extern const ServiceRequest kContactRead;       // GET  /contact/do/read
extern const ServiceRequest kContactChangeLog;  // GET  /contact/do/changelog
extern const ServiceRequest kCalendarRead;      // GET  /calendar/do/read
extern const ServiceRequest kCalendarChangeLog; // GET  /calendar/do/changelog
extern const ServiceRequest kCalendarSetTracking;
extern const ServiceRequest kTrackingChangeLog; // GET  /tracking/do/changelog
extern const ServiceRequest kTrackingUpdate;    // GET  /tracking/do/update
extern const ServiceRequest kPhoneTime;         // GET  /info/abc
extern const ServiceRequest kBuildGroupId;      // GET  /contact/build_group_id (plain text)
extern const ServiceRequest kSessionCtrl;       // POST /session_ctrl (sent by CHttpHelper itself)

// GET "/contact/do/fastread" or "/calendar/do/fastread".
const ServiceRequest& FastRead(ServiceKind kind);
// PUT ".../do/create", POST ".../do/update", DELETE ".../do/delete".
const ServiceRequest& Write(ServiceKind kind, ServiceWrite op);
} // namespace service

class FastAnswer;

// The outcome of one exchange.
struct ServiceReply {
    enum Outcome {
        kOk,        // answered; enciphered kinds: parsed and "status" is 0
        kTransport, // the request engine failed: transportCode is its result (negative codes)
        kStopped,   // cancelled in one of the engine's waits: transportCode is 21
        kNoAnswer,  // answered with an empty body
        kBadAnswer, // the deciphered text is not JSON (or not a JSON object)
        kStatus,    // parsed, "status" is not 0: status holds its value
    };

    Outcome outcome = kTransport;
    int32_t transportCode = 0; // result of the request engine (0 when it answered)
    int32_t status = 0;        // "status" of the answer (kOk: 0, kStatus: the value)
    Json::Value document;      // the parsed answer (kOk, kStatus); null otherwise
    std::string text;          // deciphered answer up to its first NUL; Plain kind: the answer
    // Set when the answer was read by the fast reader (ServiceCallFast): outcome kOk, status 0,
    // and the values are there (document and text stay empty).
    const FastAnswer* fast = nullptr;

    bool ok() const { return outcome == kOk; }
    // The service refused a write: status -1 or -4.
    bool refused() const { return outcome == kStatus && (status == -1 || status == -4); }
    // "objects" of the answer (a null value when absent).
    const Json::Value& objects() const { return document["objects"]; }
    // Transport, stop and empty answers: nothing came back to look at.
    bool answered() const { return outcome != kTransport && outcome != kStopped && outcome != kNoAnswer; }
};

// The compact form every request body is written in: no blanks, no line feed, non-ASCII as raw
// UTF-8 (the handset's byte limits count these bytes). Callers measuring a body use this too.
std::string WriteCompactJson(const Json::Value& value);

// The same writer kept for many values (a writer's set-up costs more than writing a row): for one
// thread at a time, e.g. the loop that puts a write request together.
class CompactJsonWriter {
public:
    CompactJsonWriter();
    ~CompactJsonWriter();
    CompactJsonWriter(const CompactJsonWriter&) = delete;
    CompactJsonWriter& operator=(const CompactJsonWriter&) = delete;
    // WriteCompactJson(value).
    std::string Write(const Json::Value& value);

private:
    std::unique_ptr<Json::StreamWriter> writer_;
    std::ostringstream out_;
};

// One enciphered exchange. body null (or a None request): no body is sent.
ServiceReply ServiceCall(const ServiceRequest& request, const Json::Value* body);
inline ServiceReply ServiceCall(const ServiceRequest& request, const Json::Value& body) {
    return ServiceCall(request, &body);
}
// The same with a body already written by WriteCompactJson (writers measure it first).
ServiceReply ServiceCallText(const ServiceRequest& request, const std::string& compactJson);

// One plain-text exchange ("/contact/build_group_id"): the bytes go out unchanged and the
// answer comes back unchanged in text (outcome kOk, or kNoAnswer when empty).
ServiceReply ServiceCallPlain(const ServiceRequest& request, const std::string& body);

// The answer half on its own: decipher an envelope (up to its first NUL), parse, check "status".
// For callers that hold a lock around the parse or replay recorded answers.
ServiceReply ParseServiceAnswer(const char* envelope, size_t length);

// The answers of the reads of whole records, read for speed: the envelope deciphered into a
// buffer kept from one answer to the next, and parsed in place by the fast reader
// (transport/fast_json.h). A read keeps one for all its batches; it holds the last answer only.
class FastAnswer {
public:
    FastAnswer();
    ~FastAnswer();
    FastAnswer(const FastAnswer&) = delete;
    FastAnswer& operator=(const FastAnswer&) = delete;

    // True when the answer is a JSON object whose "status" is 0 or absent and the fast reader
    // read all of it as JsonCpp would. False says nothing about the answer: ParseServiceAnswer
    // then gives its outcome (and its trace lines) as it always has.
    bool Parse(const char* envelope, size_t length);
    fastjson::Value root() const { return doc_.root(); }
    // "objects" of the answer (nothing when absent).
    fastjson::Value objects() const { return doc_.root().member("objects"); }

private:
    std::unique_ptr<char[]> buffer_;
    size_t capacity_ = 0;
    fastjson::Document doc_;
};

// ServiceCall for a read (an enciphered answer; a request with or without a body): an answer the
// fast reader takes is given with fast set (fast holds its values until its next use); any other
// answer is parsed by ParseServiceAnswer. A Plain request goes to ServiceCall.
ServiceReply ServiceCallFast(const ServiceRequest& request, const Json::Value* body, FastAnswer* fast);

// The answer half of ServiceCallFast, for callers that replay recorded answers.
ServiceReply ParseServiceAnswerFast(const char* envelope, size_t length, FastAnswer* fast);
