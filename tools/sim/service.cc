#include "service.h"

#include <json/writer.h>

#include <cstring>
#include <functional>

#include "json_text.h"
#include "platform/utf.h"
#include "transport/payload_cipher.h"

namespace kxsim {

namespace {

enum class Body { kNone, kJson };

using TextRead = StoreResult (Store::*)(const Json::Value& ids, std::string* out, std::string* badText);

struct Route {
    const char* method;
    const char* path;
    Body body;
    ServiceStatus (*handler)(Store& store, const Json::Value& request, Json::Value* answer,
                             std::string* error);
    // The reads of whole records: their answer is written as text straight from the store's rows
    // (the same bytes as the tree's), and handler is not used.
    TextRead textRead = nullptr;
};

// The requests on {"objects": [...]}, answered with the objects the store gives back.
ServiceStatus OnObjects(const Json::Value& request, Json::Value* answer, std::string* error,
                        const std::function<StoreResult(const Json::Value& objects, Json::Value* out)>& op) {
    const Json::Value& objects = request["objects"];
    if (!objects.isArray()) {
        *error = "\"objects\" is not an array";
        return kStatusBadRequest;
    }
    Json::Value out;
    StoreResult r = op(objects, &out);
    if (!r.ok) {
        *error = r.error;
        return kStatusStoreError;
    }
    (*answer)["objects"] = std::move(out);
    return kStatusOk;
}

// {"contact": 1} or {"calendar": "1"}: the kind a tracking request is about.
bool Wants(const Json::Value& request, const char* kind) {
    const Json::Value& v = request[kind];
    if (v.isString())
        return v.asString() == "1";
    return v.isIntegral() && v.asInt64() == 1;
}

using StoreWrite = StoreResult (Store::*)(const Json::Value&, Origin, Json::Value*);

// The driver's writes are the sync's own: they stay out of the change logs.
template <StoreWrite op>
ServiceStatus Write(Store& store, const Json::Value& request, Json::Value* answer, std::string* error) {
    return OnObjects(request, answer, error, [&store](const Json::Value& objects, Json::Value* out) {
        return (store.*op)(objects, Origin::kDriver, out);
    });
}

using StoreRead = StoreResult (Store::*)(const Json::Value&, Json::Value*);

template <StoreRead op>
ServiceStatus Read(Store& store, const Json::Value& request, Json::Value* answer, std::string* error) {
    return OnObjects(request, answer, error, [&store](const Json::Value& objects, Json::Value* out) {
        return (store.*op)(objects, out);
    });
}

const Route kRoutes[] = {
    {"GET", "/contact/do/changelog", Body::kNone,
     [](Store& s, const Json::Value&, Json::Value* a, std::string*) {
         (*a)["objects"] = s.ContactIds();
         return kStatusOk;
     }},
    {"GET", "/contact/do/read", Body::kJson, Read<&Store::ReadContacts>, &Store::ReadContactsText},
    {"GET", "/contact/do/fastread", Body::kJson, Read<&Store::ContactTimes>},
    {"PUT", "/contact/do/create", Body::kJson, Write<&Store::CreateContacts>},
    {"POST", "/contact/do/update", Body::kJson, Write<&Store::UpdateContacts>},
    {"DELETE", "/contact/do/delete", Body::kJson, Write<&Store::DeleteContacts>},
    {"GET", "/calendar/do/changelog", Body::kNone,
     [](Store& s, const Json::Value&, Json::Value* a, std::string*) {
         (*a)["objects"] = s.EventIds();
         return kStatusOk;
     }},
    {"GET", "/calendar/do/read", Body::kJson, Read<&Store::ReadEvents>, &Store::ReadEventsText},
    {"GET", "/calendar/do/fastread", Body::kJson, Read<&Store::EventTimes>},
    {"PUT", "/calendar/do/create", Body::kJson, Write<&Store::CreateEvents>},
    {"POST", "/calendar/do/update", Body::kJson, Write<&Store::UpdateEvents>},
    {"DELETE", "/calendar/do/delete", Body::kJson, Write<&Store::DeleteEvents>},
    {"GET", "/calendar/do/set_tracking", Body::kNone,
     [](Store& s, const Json::Value&, Json::Value*, std::string* e) {
         StoreResult r = s.SetCalendarTracking(true);
         *e = r.error;
         return r.ok ? kStatusOk : kStatusStoreError;
     }},
    {"GET", "/tracking/do/changelog", Body::kJson,
     [](Store& s, const Json::Value& req, Json::Value* a, std::string* e) {
         const char* kind = Wants(req, "contact") ? "contact" : Wants(req, "calendar") ? "calendar" : nullptr;
         if (kind == nullptr) {
             *e = "neither \"contact\" nor \"calendar\" asked for";
             return kStatusBadRequest;
         }
         (*a)["objects"] = s.ChangeLog(kind);
         return kStatusOk;
     }},
    {"GET", "/tracking/do/update", Body::kJson,
     [](Store& s, const Json::Value& req, Json::Value*, std::string* e) {
         const Json::Value& ids = req["objects"];
         if (!ids.isNull() && !ids.isArray()) {
             *e = "\"objects\" is not an array";
             return kStatusBadRequest;
         }
         bool any = false;
         for (const char* kind : {"contact", "calendar"}) {
             if (!Wants(req, kind))
                 continue;
             any = true;
             StoreResult r = s.ClearChangeLog(kind, ids.isArray() ? &ids : nullptr);
             if (!r.ok) {
                 *e = r.error;
                 return kStatusBadRequest;
             }
         }
         if (!any)
             *e = "neither \"contact\" nor \"calendar\" to clear";
         return any ? kStatusOk : kStatusBadRequest;
     }},
    {"GET", "/info/abc", Body::kNone,
     [](Store& s, const Json::Value&, Json::Value* a, std::string*) {
         (*a)["time"]["now"] = std::to_string(s.NowMs());
         return kStatusOk;
     }},
    {"POST", "/session_ctrl", Body::kNone,
     [](Store&, const Json::Value&, Json::Value*, std::string*) { return kStatusOk; }},
};

const char kGroupPath[] = "/contact/build_group_id";

const Route* FindRoute(const std::string& path) {
    for (const Route& r : kRoutes)
        if (path == r.path)
            return &r;
    return nullptr;
}

// "cmd=get_group_id;value=Friends" or "cmd=get_group_title;value=7".
ServiceAnswer GroupRequest(Store& store, const std::string& method, const std::string& body) {
    ServiceAnswer a;
    a.plainBody = body;
    static const char kId[] = "cmd=get_group_id;value=";
    static const char kTitle[] = "cmd=get_group_title;value=";
    if (method != "GET") {
        a.httpStatus = 405;
        a.error = "group request with method " + method;
    } else if (body.compare(0, sizeof kId - 1, kId) == 0) {
        StoreResult r = store.GroupIdForTitle(body.substr(sizeof kId - 1), &a.body);
        if (!r.ok) {
            a.httpStatus = 500;
            a.error = r.error;
        }
    } else if (body.compare(0, sizeof kTitle - 1, kTitle) == 0) {
        a.body = store.GroupTitleForId(body.substr(sizeof kTitle - 1));
        if (!platform::IsValidUtf8(a.body.data(), a.body.size())) {
            a.httpStatus = 500;
            a.error = "stored group title is not valid UTF-8";
            a.body.clear();
        }
    } else {
        a.httpStatus = 400;
        a.error = "unknown group command: " + body.substr(0, 64);
    }
    return a;
}

} // namespace

bool IsServicePath(const std::string& path) {
    return IsPlainTextPath(path) || FindRoute(path) != nullptr;
}

bool IsPlainTextPath(const std::string& path) {
    return path == kGroupPath;
}

namespace {

// Compact JSON with UTF-8 left as it is and object members in key order, as JsonCpp writes
// them, but straight into one buffer: the answers are large and written on every read.
void AppendJson(const Json::Value& v, std::string* out) {
    switch (v.type()) {
    case Json::stringValue: {
        const char *b, *e;
        v.getString(&b, &e);
        AppendJsonString(b, e, out);
        break;
    }
    case Json::intValue:
        out->append(std::to_string(v.asLargestInt()));
        break;
    case Json::uintValue:
        out->append(std::to_string(v.asLargestUInt()));
        break;
    case Json::arrayValue: {
        out->push_back('[');
        bool first = true;
        for (const Json::Value& item : v) {
            if (!first)
                out->push_back(',');
            first = false;
            AppendJson(item, out);
        }
        out->push_back(']');
        break;
    }
    case Json::objectValue: {
        out->push_back('{');
        bool first = true;
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (!first)
                out->push_back(',');
            first = false;
            const char* end;
            const char* key = it.memberName(&end);
            AppendJsonString(key, end, out);
            out->push_back(':');
            AppendJson(*it, out);
        }
        out->push_back('}');
        break;
    }
    default: { // null, bool, real: rare, written by JsonCpp itself
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        out->append(Json::writeString(b, v));
    }
    }
}

} // namespace

std::string Service::Seal(const Json::Value& doc) {
    thread_local std::string text;
    text.clear();
    AppendJson(doc, &text);
    return EncryptPayload(text.c_str());
}

std::string Service::Unseal(const std::string& body) {
    std::string plain = DecryptPayload(body.data(), body.size());
    plain.resize(std::strlen(plain.c_str())); // the zero padding ends the text
    return plain;
}

std::string Service::StatusBody(int status) {
    Json::Value doc(Json::objectValue);
    doc["status"] = status;
    return Seal(doc);
}

ServiceAnswer Service::TextAnswer(TextReadFn read, const Json::Value& request, ServiceAnswer a) {
    const Json::Value& objects = request["objects"];
    if (!objects.isArray()) {
        a.error = "\"objects\" is not an array";
        a.httpStatus = 400;
        a.body = StatusBody(kStatusBadRequest);
        return a;
    }
    // {"objects":[...],"status":0}, as the tree would be written.
    std::string text = "{\"objects\":", badText;
    StoreResult r = (store_.*read)(objects, &text, &badText);
    if (!r.ok) {
        a.error = r.error;
        a.httpStatus = 500;
        a.body = StatusBody(kStatusStoreError);
        return a;
    }
    if (!badText.empty()) {
        a.httpStatus = 500;
        a.error = "stored text is not valid UTF-8 (" + badText + ")";
        a.body = StatusBody(kStatusStoreError);
        return a;
    }
    text.append(",\"status\":0}");
    a.body = EncryptPayload(text.c_str());
    return a;
}

ServiceAnswer Service::Handle(const std::string& method, const std::string& path, const std::string& body) {
    if (IsPlainTextPath(path))
        return GroupRequest(store_, method, body);

    ServiceAnswer a;
    const Route* route = FindRoute(path);
    if (route == nullptr) {
        a.httpStatus = 404;
        a.error = "unknown path " + path;
        a.body = StatusBody(kStatusUnknownPath);
        return a;
    }
    if (method != route->method) {
        a.httpStatus = 405;
        a.error = method + " is not the method of " + path;
        a.body = StatusBody(kStatusUnknownPath);
        return a;
    }
    Json::Value request(Json::objectValue);
    if (route->body == Body::kJson) {
        std::string plain = Unseal(body);
        a.plainBody = plain;
        std::string errors;
        if (plain.empty() || !ParseJson(plain.data(), plain.size(), &request, &errors) ||
            !request.isObject()) {
            a.httpStatus = 400;
            a.error = plain.empty() ? "body does not decipher" : "body is not a JSON object: " + errors;
            a.body = StatusBody(kStatusBadBody);
            return a;
        }
    }
    if (route->textRead != nullptr)
        return TextAnswer(route->textRead, request, std::move(a));
    Json::Value answer(Json::objectValue);
    answer["status"] = kStatusOk;
    ServiceStatus status = route->handler(store_, request, &answer, &a.error);
    if (status != kStatusOk) {
        a.httpStatus = status == kStatusStoreError ? 500 : 400;
        a.body = StatusBody(status);
        return a;
    }
    // A store written by an older simulator may hold bytes that are no text: refuse to serve them.
    std::string where;
    if (!ValidText(answer, &where)) {
        a.httpStatus = 500;
        a.error = "stored text is not valid UTF-8 (" + where + ")";
        a.body = StatusBody(kStatusStoreError);
        return a;
    }
    a.body = Seal(answer);
    return a;
}

} // namespace kxsim
