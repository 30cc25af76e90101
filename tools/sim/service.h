// The handset data service: one request (method, path, body as received) in, one answer out.
// Bodies travel in the service envelope except for the group requests, which are plain text.
#pragma once

#include <json/value.h>

#include <string>

#include "store.h"

namespace kxsim {

// "status" values of answers. 0 is success; -1 and -4 (write refused) come only from fault
// injection, so the driver's refusal handling can be exercised on purpose.
enum ServiceStatus {
    kStatusOk = 0,
    kStatusBadBody = 1,    // the body did not decipher to a JSON object
    kStatusBadRequest = 2, // the document lacks what the path needs
    kStatusUnknownPath = 3,
    kStatusStoreError = 5, // the store refused the change; nothing was written
};

struct ServiceAnswer {
    int httpStatus = 200;
    std::string body;      // as sent: envelope text, or plain text for group requests
    std::string plainBody; // the deciphered request body (or the plain one), for the journal
    std::string error;     // non-empty when the request was bad; traced on stderr
};

class Service {
public:
    explicit Service(Store& store) : store_(store) {}

    ServiceAnswer Handle(const std::string& method, const std::string& path, const std::string& body);

    // The envelope of a JSON document, written compactly with UTF-8 left as it is.
    static std::string Seal(const Json::Value& doc);
    // The text in an envelope, up to the zero padding; "" when it does not decipher.
    static std::string Unseal(const std::string& body);
    // The envelope of {"status": status}.
    static std::string StatusBody(int status);

private:
    using TextReadFn = StoreResult (Store::*)(const Json::Value& ids, std::string* out, std::string* badText);
    // The answer of a read written as text by the store (no tree).
    ServiceAnswer TextAnswer(TextReadFn read, const Json::Value& request, ServiceAnswer a);

    Store& store_;
};

// The paths of the service protocol (for fault rules that name a path).
bool IsServicePath(const std::string& path);
// The group requests, whose bodies are plain text both ways.
bool IsPlainTextPath(const std::string& path);

} // namespace kxsim
