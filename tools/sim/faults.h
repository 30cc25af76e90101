// Faults a test can switch on while the server runs. Each rule fires for a number of matching
// requests (or until cleared) and then disappears. A rule may first let a number of matching
// requests pass ("skip"), so a test can spoil exactly the third write of a run; skipped requests
// are counted whether or not another rule acted on them, so the count stays deterministic.
//
// Connection level: "refuse" resets the next connections as soon as they are accepted, before
// anything is read (the driver sees its attempt fail).
// Request level, for rules whose path is empty (any service path) or equal to the request's:
//   "stall"          wait value milliseconds, then go on (stalls add up with the rules below);
//   "status"         answer {"status": value} without touching the store (value may be -1, -4);
//   "drop"           reset the connection without answering (the request is not carried out);
//   "close_mid_body" carry the request out, send the header and half the body, then close;
//   "undecipherable" carry it out, answer with a body that is not an envelope;
//   "non_json"       carry it out, answer with an envelope whose text is not JSON.
// Admin paths are never faulted.
#pragma once

#include <json/value.h>

#include <mutex>
#include <string>
#include <vector>

namespace kxsim {

enum class FaultKind { kRefuse, kStall, kStatus, kDrop, kCloseMidBody, kUndecipherable, kNonJson };

struct FaultRule {
    FaultKind kind = FaultKind::kStatus;
    std::string path;  // empty: any service path
    int remaining = 1; // requests (or connections) left; -1 = until cleared
    int value = 0;     // the status of "status", the milliseconds of "stall"
    int skip = 0;      // matching requests (or connections) still to let pass before it fires
};

struct RequestFaults {
    int stallMs = 0;
    bool hasAction = false;
    FaultRule action; // the first matching non-stall rule
};

class Faults {
public:
    void Add(const FaultRule& rule);
    void Clear();
    std::vector<FaultRule> List();

    // True when this connection is to be refused (counts the rule down).
    bool TakeRefusal();
    // The faults for one request on path (counts matching rules down).
    RequestFaults Take(const std::string& path);

    // {"kind": "status", "path": "/contact/do/read", "value": -4, "count": 2, "skip": 2}; "count"
    // defaults to 1 (-1 = until cleared), "skip" to 0; "stall" also takes "seconds" (fractions
    // allowed) for "value".
    static bool Parse(const Json::Value& v, FaultRule* out, std::string* error);
    // "status:-4:/contact/do/read:2", "stall:1.5", "refuse:3", "drop:/session_ctrl:2",
    // "close_mid_body:/contact/do/create:1:skip=2", ... (kind, then its value for status and
    // stall, then an optional path, an optional count and an optional "skip=N").
    static bool ParseSpec(const std::string& spec, FaultRule* out, std::string* error);
    static Json::Value ToJson(const FaultRule& rule);
    static const char* KindName(FaultKind kind);

private:
    std::mutex mu_;
    std::vector<FaultRule> rules_;
};

} // namespace kxsim
