#include "faults.h"

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

bool Validate(FaultRule* r, std::string* error) {
    if (r->remaining == 0 || r->remaining < -1)
        return Invalid(error, "count must be positive or -1");
    if (r->kind == FaultKind::kStall && (r->value < 0 || r->value > 3600 * 1000))
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
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->kind != FaultKind::kRefuse)
            continue;
        if (it->remaining > 0 && --it->remaining == 0)
            rules_.erase(it);
        return true;
    }
    return false;
}

RequestFaults Faults::Take(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    RequestFaults out;
    for (auto it = rules_.begin(); it != rules_.end();) {
        bool matches = it->kind != FaultKind::kRefuse && (it->path.empty() || it->path == path) &&
                       (it->kind == FaultKind::kStall || !out.hasAction);
        if (!matches) {
            ++it;
            continue;
        }
        if (it->kind == FaultKind::kStall) {
            out.stallMs += it->value;
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
    out->path = v.get("path", out->path).asString();
    out->remaining = v.get("count", out->remaining).asInt();
    if (HasValue(out->kind)) {
        if (v["seconds"].isNumeric() && out->kind == FaultKind::kStall)
            out->value = static_cast<int>(std::lround(v["seconds"].asDouble() * 1000));
        else if (v["value"].isInt())
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
    size_t i = 1;
    double number;
    if (HasValue(out->kind)) {
        if (i >= parts.size() || !ParseNumber(parts[i], &number))
            return Invalid(error, spec + ": a number must follow the kind");
        out->value = static_cast<int>(out->kind == FaultKind::kStall ? std::lround(number * 1000) : number);
        ++i;
    }
    if (i < parts.size() && !parts[i].empty() && parts[i][0] == '/')
        out->path = parts[i++];
    if (i < parts.size()) {
        if (!ParseNumber(parts[i], &number) || number != std::floor(number))
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
    return v;
}

} // namespace kxsim
