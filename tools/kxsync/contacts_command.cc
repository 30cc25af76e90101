// "kxsync contacts read": a host session around Read(2, 0). Records arrive as message 2525 on
// the host window while Read runs on the main thread; Ctrl-C becomes Stop on another thread.
#include "contacts_command.h"

#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <unistd.h>

#include <cstdio>
#include <map>

#include <json/json.h>

#include "commands.h"
#include "record_text.h"

namespace kxsync {

namespace {

// ---------------------------------------------------------------- text

// Readable names of the field types.
const std::map<int32_t, const char*>& FieldNames() {
    static const std::map<int32_t, const char*> names = {
        {1, "givenName"},
        {2, "familyName"},
        {4037, "phoneticGivenName"},
        {4038, "phoneticFamilyName"},
        {4005, "nickname"},
        {4004, "company"},
        {4015, "jobTitle"},
        {104, "mobile"},
        {102, "homePhone"},
        {103, "homePhone2"},
        {100, "workPhone"},
        {101, "workPhone2"},
        {112, "workFax"},
        {111, "homeFax"},
        {106, "pager"},
        {108, "otherPhone"},
        {114, "carPhone"},
        {116, "companyMainPhone"},
        {119, "radioPhone"},
        {117, "assistantPhone"},
        {1500, "webSite"},
        {2002, "homeStreet"},
        {2003, "homeNeighbourhood"},
        {2019, "homePoBox"},
        {2004, "homeCity"},
        {2005, "homeRegion"},
        {2006, "homePostalCode"},
        {2008, "homeCountry"},
        {2010, "workStreet"},
        {2011, "workNeighbourhood"},
        {2021, "workPoBox"},
        {2012, "workCity"},
        {2013, "workRegion"},
        {2014, "workPostalCode"},
        {2016, "workCountry"},
        {2032, "otherStreet"},
        {2033, "otherNeighbourhood"},
        {2030, "otherPoBox"},
        {2034, "otherCity"},
        {2035, "otherRegion"},
        {2036, "otherPostalCode"},
        {2038, "otherCountry"},
        {4022, "im"},
        {4023, "imAim"},
        {4024, "imMsn"},
        {4025, "imYahoo"},
        {4026, "imSkype"},
        {4027, "imQq"},
        {4028, "imGoogleTalk"},
        {4029, "imIcq"},
        {4030, "imJabber"},
        {4003, "birthday"},
        {4019, "anniversary"},
        {3002, "note"},
        {3018, "groups"},
        {5, "picture"},
    };
    return names;
}

std::string FieldName(int32_t type) {
    if (type >= 1000 && type < 1500)
        return type == 1000 ? "email" : "email" + std::to_string(type - 999);
    auto it = FieldNames().find(type);
    return it != FieldNames().end() ? it->second : "field" + std::to_string(type);
}

// The picture rides on the first field of type 1, else 2, else 3, else 5 (the record's inline
// accessors only: this host does not link the driver's code).
std::u16string PicturePath(const ContactRecord& r) {
    for (int32_t type : {1, 2, 3, 5})
        for (int32_t i = 0; i < r.GetFieldCount(); ++i)
            if (const ContactField* f = r.GetField(i))
                if (f->nType == type)
                    return f->strFilePath;
    return std::u16string();
}

// One JSON line: id, modification time, fields by readable name (repeated names become arrays),
// and the picture file.
std::string JsonLine(const ContactRecord& r) {
    Json::Value v(Json::objectValue);
    v["id"] = Utf8(r.strPIMID);
    v["modified"] = DateText(r.strLastModify);
    Json::Value& fields = v["fields"] = Json::Value(Json::objectValue);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        std::string name = FieldName(f->nType);
        Json::Value value(Utf8(f->strData));
        if (!fields.isMember(name)) {
            fields[name] = value;
        } else {
            Json::Value& slot = fields[name];
            if (!slot.isArray()) {
                Json::Value first = slot;
                slot = Json::Value(Json::arrayValue);
                slot.append(first);
            }
            slot.append(value);
        }
    }
    std::u16string picture = PicturePath(r);
    if (!picture.empty())
        v["picture"] = Utf8(picture);
    return JsonLineText(v);
}

// "id  Given Family  mobile=… email=… (+n more)".
std::string ReadableLine(const ContactRecord& r) {
    std::string name, details;
    int shown = 0, more = 0;
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        if (f->nType == 1 || f->nType == 2) {
            name += (name.empty() ? "" : " ") + Utf8(f->strData);
        } else if (shown < 3 && f->nType != 3002) {
            details += "  " + FieldName(f->nType) + "=" + Shortened(Utf8(f->strData), 40, 37);
            ++shown;
        } else {
            ++more;
        }
    }
    std::string line = Utf8(r.strPIMID) + "  " + (name.empty() ? "(no name)" : name) + details;
    if (more)
        line += "  (+" + std::to_string(more) + " more)";
    return line;
}

// ---------------------------------------------------------------- the session

// Draws nothing itself: the host window draws the bar from the progress messages.
struct ReadState {
    const ContactReadOptions* options = nullptr;
    ContactReadOutcome* outcome = nullptr;
    bool bar = false;

    void Record(const ContactRecord* r) {
        ++outcome->delivered;
        if (!options->print && outcome->samples.size() >= options->keepSamples)
            return;
        std::string line = options->json ? JsonLine(*r) : ReadableLine(*r);
        if (outcome->samples.size() < options->keepSamples)
            outcome->samples.push_back(line);
        if (options->print) {
            if (bar)
                std::fputs("\r\033[K", stderr); // the bar comes back with the next percentage
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
};

} // namespace

void ReadContacts(Session& session, const std::string& address, int port, const ContactReadOptions& options,
                  ContactReadOutcome* outcome) {
    ReadState state;
    state.options = &options;
    state.outcome = outcome;
    state.bar = session.options.progress && isatty(STDERR_FILENO);
    session.window.SetHandler([&state](uint32_t code, intptr_t value) {
        if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_RECORD_READ)) {
            state.Record(reinterpret_cast<const ContactRecord*>(value));
        } else if (code == KX_PROGRESS_PERCENT) {
            state.outcome->lastPercent = static_cast<int>(value);
        } else if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FINISHED) ||
                   code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FAILED)) {
            state.outcome->finalCode = code;
            state.outcome->finalValue = value;
        }
    });

    // Both callbacks are given, as a host that uses them would; they only count.
    OpenSession(session, address, port, /*callbacks=*/true, /*print=*/false);
    outcome->result = TimedRead(session, KX_TYPE_CONTACT, &outcome->seconds);
    CloseSession(session, /*print=*/false);
}

int RunContacts(Session& session) {
    if (session.options.arguments != std::vector<std::string>{"read"}) {
        std::fputs("usage: kxsync --url http://127.0.0.1:PORT [--serial S] contacts read [--json]\n", stderr);
        return 2;
    }
    ContactReadOptions options;
    options.json = session.options.json;
    ContactReadOutcome outcome;
    ReadContacts(session, session.options.address, session.options.port, options, &outcome);
    std::fprintf(stderr, "kxsync: %d contacts in %.2f s, Read returned %s\n", outcome.delivered,
                 outcome.seconds, ResultText(outcome.result).c_str());
    return outcome.result == KX_OK ? 0 : 1;
}

} // namespace kxsync
