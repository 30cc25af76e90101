#include "faults.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kxsim {

namespace {

const struct {
    FaultKind kind;
    const char* name;
} kKinds[] = {
    {FaultKind::kRefuse, "refuse"},
    {FaultKind::kStall, "stall"},
    {FaultKind::kStatus, "status"},
    {FaultKind::kDrop, "drop"},
    {FaultKind::kCloseMidBody, "close_mid_body"},
    {FaultKind::kUndecipherable, "undecipherable"},
    {FaultKind::kNonJson, "non_json"},
};

bool KindOf(const std::string& name, FaultKind* kind) {
    for (auto& k : kKinds)
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    return false;
}

bool ParseNumber(const std::string& text, double* out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(*out);
}

bool Invalid(std::string* error, std::string why) {
    *error = std::move(why);
    return false;
}

bool HasValue(FaultKind kind) {
    return kind == FaultKind::kStatus || kind == FaultKind::kStall;
}

// Far beyond any test; keeps numbers from the text inside an int.
const int kMaxNumber = 1000000000;

const int kMaxStallMs = 3600 * 1000;

// The rule's value from the number given: seconds become milliseconds for a stall.
bool ToValue(FaultKind kind, double number, int* value) {
    double v = kind == FaultKind::kStall ? number * 1000 : number;
    if (!(std::fabs(v) <= kMaxNumber))
        return false;
    *value = static_cast<int>(std::lround(v));
    return true;
}

bool Validate(FaultRule* r, std::string* error) {
    if (r->remaining == 0 || r->remaining < -1)
        return Invalid(error, "count must be positive or -1");
    if (r->skip < 0 || r->skip > kMaxNumber)
        return Invalid(error, "skip must be between 0 and 1000000000");
    if (r->kind == FaultKind::kStall && (r->value < 0 || r->value > kMaxStallMs))
        return Invalid(error, "stall must be between 0 and 3600 seconds");
    if (r->kind == FaultKind::kRefuse && !r->path.empty())
        return Invalid(error, "refuse acts on connections, before any path is known");
    if (!r->path.empty() && r->path[0] != '/')
        return Invalid(error, "path must start with /");
    return true;
}

} // namespace

const char* Faults::KindName(FaultKind kind) {
    for (auto& k : kKinds)
        if (k.kind == kind)
            return k.name;
    return "?";
}

void Faults::Add(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back(rule);
}

void Faults::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    rules_.clear();
}

std::vector<FaultRule> Faults::List() {
    std::lock_guard<std::mutex> lock(mu_);
    return rules_;
}

bool Faults::TakeRefusal() {
    std::lock_guard<std::mutex> lock(mu_);
    bool refuse = false;
    for (auto it = rules_.begin(); it != rules_.end();) {
        if (it->kind != FaultKind::kRefuse || (refuse && it->skip == 0)) {
            ++it;
        } else if (it->skip > 0) {
            --it->skip;
            ++it;
        } else {
            refuse = true;
            if (it->remaining > 0 && --it->remaining == 0)
                it = rules_.erase(it);
            else
                ++it;
        }
    }
    return refuse;
}

RequestFaults Faults::Take(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    RequestFaults out;
    for (auto it = rules_.begin(); it != rules_.end();) {
        bool matches = it->kind != FaultKind::kRefuse && (it->path.empty() || it->path == path);
        if (matches && it->skip > 0) {
            --it->skip;
            ++it;
            continue;
        }
        if (!matches || (it->kind != FaultKind::kStall && out.hasAction)) {
            ++it;
            continue;
        }
        if (it->kind == FaultKind::kStall) {
            out.stallMs = std::min(out.stallMs + it->value, kMaxStallMs); // stalls add up, within reason
        } else {
            out.hasAction = true;
            out.action = *it;
        }
        if (it->remaining > 0 && --it->remaining == 0)
            it = rules_.erase(it);
        else
            ++it;
    }
    return out;
}

bool Faults::Parse(const Json::Value& v, FaultRule* out, std::string* error) {
    *out = FaultRule();
    if (!v.isObject() || !v["kind"].isString() || !KindOf(v["kind"].asString(), &out->kind))
        return Invalid(error, "a fault needs a known \"kind\"");
    if (v.isMember("path") && !v["path"].isString())
        return Invalid(error, "\"path\" must be a string");
    if (v.isMember("count") && !v["count"].isInt())
        return Invalid(error, "\"count\" must be an integer");
    if (v.isMember("skip") && !v["skip"].isInt())
        return Invalid(error, "\"skip\" must be an integer");
    out->path = v.get("path", out->path).asString();
    out->remaining = v.get("count", out->remaining).asInt();
    out->skip = v.get("skip", out->skip).asInt();
    if (HasValue(out->kind)) {
        if (v["seconds"].isNumeric() && out->kind == FaultKind::kStall) {
            if (!ToValue(out->kind, v["seconds"].asDouble(), &out->value))
                return Invalid(error, "\"seconds\" is out of range");
        } else if (v["value"].isInt())
            out->value = v["value"].asInt();
        else
            return Invalid(error, std::string(KindName(out->kind)) + " needs an integer \"value\"");
    }
    return Validate(out, error);
}

bool Faults::ParseSpec(const std::string& spec, FaultRule* out, std::string* error) {
    *out = FaultRule();
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = spec.find(':', start);
        parts.push_back(spec.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    if (!KindOf(parts[0], &out->kind))
        return Invalid(error, "unknown fault kind \"" + parts[0] + "\"");
    double number;
    static const char kSkip[] = "skip=";
    if (parts.size() > 1 && parts.back().compare(0, sizeof kSkip - 1, kSkip) == 0) {
        if (!ParseNumber(parts.back().substr(sizeof kSkip - 1), &number) || number != std::floor(number) ||
            number < 0 || number > kMaxNumber)
            return Invalid(error, spec + ": skip must be an integer between 0 and 1000000000");
        out->skip = static_cast<int>(number);
        parts.pop_back();
    }
    size_t i = 1;
    if (HasValue(out->kind)) {
        if (i >= parts.size() || !ParseNumber(parts[i], &number))
            return Invalid(error, spec + ": a number must follow the kind");
        if (!ToValue(out->kind, number, &out->value))
            return Invalid(error, spec + ": the value is out of range");
        ++i;
    }
    if (i < parts.size() && !parts[i].empty() && parts[i][0] == '/')
        out->path = parts[i++];
    if (i < parts.size()) {
        if (!ParseNumber(parts[i], &number) || number != std::floor(number) || std::fabs(number) > kMaxNumber)
            return Invalid(error, spec + ": the count must be an integer");
        out->remaining = static_cast<int>(number);
        ++i;
    }
    if (i != parts.size())
        return Invalid(error, spec + ": too many parts");
    return Validate(out, error);
}

Json::Value Faults::ToJson(const FaultRule& rule) {
    Json::Value v(Json::objectValue);
    v["kind"] = KindName(rule.kind);
    if (!rule.path.empty())
        v["path"] = rule.path;
    v["count"] = rule.remaining;
    if (HasValue(rule.kind))
        v["value"] = rule.value;
    if (rule.skip > 0)
        v["skip"] = rule.skip;
    return v;
}

} // namespace kxsim
