#include "transport/service_request.h"

#include <cstring>
#include <memory>
#include <sstream>

#include "trace/trace.h"
#include "transport/base64.h"
#include "transport/http_helper.h"
#include "transport/payload_cipher.h"
#include "transport/transport_context.h"

namespace service {

// method, path, time-out in seconds, body kind
const ServiceRequest kContactRead = {HttpMethod::Get, u"/contact/do/read", 600, ServiceBody::Enciphered};
const ServiceRequest kContactChangeLog = {HttpMethod::Get, u"/contact/do/changelog", 600, ServiceBody::None};
const ServiceRequest kCalendarRead = {HttpMethod::Get, u"/calendar/do/read", 600, ServiceBody::Enciphered};
const ServiceRequest kCalendarChangeLog = {HttpMethod::Get, u"/calendar/do/changelog", 600,
                                           ServiceBody::None};
const ServiceRequest kCalendarSetTracking = {HttpMethod::Get, u"/calendar/do/set_tracking", 600,
                                             ServiceBody::None};
const ServiceRequest kTrackingChangeLog = {HttpMethod::Get, u"/tracking/do/changelog", 600,
                                           ServiceBody::Enciphered};
const ServiceRequest kTrackingUpdate = {HttpMethod::Get, u"/tracking/do/update", 600,
                                        ServiceBody::Enciphered};
const ServiceRequest kPhoneTime = {HttpMethod::Get, u"/info/abc", 600, ServiceBody::None};
const ServiceRequest kBuildGroupId = {HttpMethod::Get, u"/contact/build_group_id", 600, ServiceBody::Plain};
const ServiceRequest kSessionCtrl = {HttpMethod::Post, u"/session_ctrl", 300, ServiceBody::None};

namespace {
const ServiceRequest kContactFastRead = {HttpMethod::Get, u"/contact/do/fastread", 600,
                                         ServiceBody::Enciphered};
const ServiceRequest kCalendarFastRead = {HttpMethod::Get, u"/calendar/do/fastread", 600,
                                          ServiceBody::Enciphered};
// Writes may make the handset work for a long time: 1800 s.
const ServiceRequest kWrites[2][3] = {
    {{HttpMethod::Put, u"/contact/do/create", 1800, ServiceBody::Enciphered, true},
     {HttpMethod::Post, u"/contact/do/update", 1800, ServiceBody::Enciphered, true},
     {HttpMethod::Delete, u"/contact/do/delete", 1800, ServiceBody::Enciphered, true}},
    {{HttpMethod::Put, u"/calendar/do/create", 1800, ServiceBody::Enciphered, true},
     {HttpMethod::Post, u"/calendar/do/update", 1800, ServiceBody::Enciphered, true},
     {HttpMethod::Delete, u"/calendar/do/delete", 1800, ServiceBody::Enciphered, true}},
};
} // namespace

const ServiceRequest& FastRead(ServiceKind kind) {
    return kind == ServiceKind::Contact ? kContactFastRead : kCalendarFastRead;
}

const ServiceRequest& Write(ServiceKind kind, ServiceWrite op) {
    return kWrites[kind == ServiceKind::Contact ? 0 : 1][static_cast<int>(op)];
}

} // namespace service

namespace {

const char16_t kCaller[] = u"ServiceCall";

// The answer's "status" as the fast path takes it: absent, null or a plain 0. Anything else
// (another number, a status that is no number) goes to ParseServiceAnswer for its outcome.
bool ParsedAnswerOk(const fastjson::Value& root) {
    if (!root.isObject())
        return false;
    const fastjson::Value status = root.member("status");
    if (status.isNull())
        return true;
    const char *b, *e;
    return status.isNumber() && status.scalarText(&b, &e) && e - b == 1 && *b == '0';
}

ServiceReply Exchange(const ServiceRequest& request, const char* body, size_t length, bool plainAnswer,
                      FastAnswer* fast = nullptr) {
    CHttpHelper helper;
    helper.SetIpAddressAndPort(TransportContext::Current().ServiceAddress());
    if (request.finishInFlight)
        helper.SetTransferCancel(nullptr);
    std::unique_ptr<char[]> answer;
    size_t answerLength = 0;
    int32_t r = helper.httpRequest(request.method, request.path, &answer, body, length,
                                   request.timeoutSeconds, &answerLength);
    ServiceReply reply;
    reply.transportCode = r;
    if (r != 0) {
        reply.outcome = r == KX_STOPPED ? ServiceReply::kStopped : ServiceReply::kTransport;
        return reply;
    }
    // The answer is text: it ends at its first NUL.
    answerLength = strnlen(answer.get(), answerLength);
    if (answerLength == 0) {
        reply.outcome = ServiceReply::kNoAnswer;
        return reply;
    }
    if (plainAnswer) {
        reply.outcome = ServiceReply::kOk;
        reply.text.assign(answer.get(), answerLength);
        return reply;
    }
    return fast ? ParseServiceAnswerFast(answer.get(), answerLength, fast)
                : ParseServiceAnswer(answer.get(), answerLength);
}

} // namespace

// Writers and readers are made per call: a writer is not safe to share between threads, and
// objects with destructors in thread-local or static storage are not destroyed safely on every
// platform the driver is built for (at a worker's exit, or after the host's leak checks).
std::string WriteCompactJson(const Json::Value& value) {
    return CompactJsonWriter().Write(value);
}

CompactJsonWriter::CompactJsonWriter() {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["emitUTF8"] = true;
    writer_.reset(builder.newStreamWriter());
}

CompactJsonWriter::~CompactJsonWriter() = default;

std::string CompactJsonWriter::Write(const Json::Value& value) {
    out_.str(std::string());
    out_.clear();
    writer_->write(value, &out_);
    return out_.str();
}

ServiceReply ParseServiceAnswer(const char* envelope, size_t length) {
    ServiceReply reply;
    reply.transportCode = 0;
    reply.text = DecryptPayload(envelope, strnlen(envelope, length));
    reply.text.resize(std::strlen(reply.text.c_str())); // drop the zero padding
    const Json::CharReaderBuilder builder; // comments allowed, as the service has always been read
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    const char* text = reply.text.data();
    if (reply.text.empty() || !reader->parse(text, text + reply.text.size(), &reply.document, &errors) ||
        !reply.document.isObject()) {
        KX_TRACE_ERROR(kCaller, u"Json::Reader::parse failed, the answer is not a JSON object");
        reply.document = Json::Value();
        reply.outcome = ServiceReply::kBadAnswer;
        return reply;
    }
    // A missing "status" has always read as 0; one that is not a number is a broken answer.
    const Json::Value& status = reply.document["status"];
    if (status.isNull()) {
        reply.status = 0;
    } else if (status.isNumeric() && status.isConvertibleTo(Json::intValue)) {
        reply.status = status.asInt();
    } else {
        KX_TRACE_ERROR(kCaller, u"the answer's status is not a number");
        reply.outcome = ServiceReply::kBadAnswer;
        return reply;
    }
    reply.outcome = reply.status == 0 ? ServiceReply::kOk : ServiceReply::kStatus;
    return reply;
}

FastAnswer::FastAnswer() = default;
FastAnswer::~FastAnswer() = default;

bool FastAnswer::Parse(const char* envelope, size_t length) {
    if (!envelope)
        return false;
    length = strnlen(envelope, length);
    // The decoded bytes, deciphered in place, and one NUL after them for the in-place parse; the
    // parser's SSE2 scans read whole aligned 16-byte blocks, so a block past the NUL is ours too.
    const size_t need = Base64DecodedBound(length) + 1 + 32;
    if (need > capacity_) {
        size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
        while (capacity < need)
            capacity *= 2;
        buffer_.reset(new char[capacity]);
        capacity_ = capacity;
    }
    char* text = buffer_.get();
    size_t bytes = Base64DecodeTo(envelope, length, text);
    if (!DecipherPayloadInPlace(text, bytes))
        return false;
    text[bytes] = '\0';
    // The answer is text: it ends at its first NUL (the zero padding).
    return doc_.Parse(text, std::strlen(text)) && ParsedAnswerOk(root());
}

ServiceReply ParseServiceAnswerFast(const char* envelope, size_t length, FastAnswer* fast) {
    if (fast->Parse(envelope, length)) {
        ServiceReply reply;
        reply.outcome = ServiceReply::kOk;
        reply.fast = fast;
        return reply;
    }
    return ParseServiceAnswer(envelope, length);
}

ServiceReply ServiceCallFast(const ServiceRequest& request, const Json::Value* body, FastAnswer* fast) {
    if (request.body == ServiceBody::Plain)
        return ServiceCall(request, body);
    if (!body || request.body == ServiceBody::None)
        return Exchange(request, nullptr, 0, false, fast); // no body; the answer is enciphered JSON
    const std::string compact = WriteCompactJson(*body);
    if (compact.empty())
        return ServiceCall(request, body);
    std::string envelope = EncryptPayload(compact.c_str());
    return Exchange(request, envelope.data(), envelope.size(), false, fast);
}

ServiceReply ServiceCallText(const ServiceRequest& request, const std::string& compactJson) {
    const bool plain = request.body == ServiceBody::Plain;
    if (request.body == ServiceBody::None || compactJson.empty())
        return Exchange(request, nullptr, 0, plain);
    if (plain)
        return Exchange(request, compactJson.data(), compactJson.size(), true);
    std::string envelope = EncryptPayload(compactJson.c_str());
    return Exchange(request, envelope.data(), envelope.size(), false);
}

ServiceReply ServiceCall(const ServiceRequest& request, const Json::Value* body) {
    if (!body || request.body == ServiceBody::None)
        return Exchange(request, nullptr, 0, request.body == ServiceBody::Plain);
    return ServiceCallText(request, WriteCompactJson(*body));
}

ServiceReply ServiceCallPlain(const ServiceRequest& request, const std::string& body) {
    return Exchange(request, body.empty() ? nullptr : body.data(), body.size(), true);
}
