// "kxsync contacts read": a host session around Read(2, 0). Records arrive as message 2525 on
// the host window while Read runs on the main thread; Ctrl-C becomes Stop on another thread.
#include "contacts_command.h"

#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include <json/json.h>

#include "commands.h"
#include "platform/utf.h"

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

// A date as "yyyy-mm-dd hh:mm:ss" (days since 1899-12-30, rounded to the second); empty when
// invalid. Worked out here: this host links none of the driver's code.
std::string DateText(const platform::OleDate& d) {
    if (!d.valid() || !(std::fabs(d.days) < 3e6))
        return "";
    // Before 1899-12-30 the whole days count backwards while the fraction runs forwards.
    double whole = std::trunc(d.days);
    int64_t seconds = static_cast<int64_t>(whole) * 86400 + std::llround(std::fabs(d.days - whole) * 86400);
    int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t rest = seconds - day * 86400;
    // Civil date of a day count (from 1970-01-01 after the shift), proleptic Gregorian.
    int64_t z = day - 25569 + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t dd = doy - (153 * mp + 2) / 5 + 1;
    int64_t mm = mp < 10 ? mp + 3 : mp - 9;
    int64_t yy = yoe + era * 400 + (mm <= 2);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(yy),
                  static_cast<long long>(mm), static_cast<long long>(dd), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buf;
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
    v["id"] = platform::Utf16ToUtf8(r.strPIMID);
    v["modified"] = DateText(r.strLastModify);
    Json::Value& fields = v["fields"] = Json::Value(Json::objectValue);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        std::string name = FieldName(f->nType);
        Json::Value value(platform::Utf16ToUtf8(f->strData));
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
        v["picture"] = platform::Utf16ToUtf8(picture);
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    return Json::writeString(w, v);
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
            name += (name.empty() ? "" : " ") + platform::Utf16ToUtf8(f->strData);
        } else if (shown < 3 && f->nType != 3002) {
            std::string text = platform::Utf16ToUtf8(f->strData);
            if (text.size() > 40)
                text = text.substr(0, 37) + "...";
            details += "  " + FieldName(f->nType) + "=" + text;
            ++shown;
        } else {
            ++more;
        }
    }
    std::string line =
        platform::Utf16ToUtf8(r.strPIMID) + "  " + (name.empty() ? "(no name)" : name) + details;
    if (more)
        line += "  (+" + std::to_string(more) + " more)";
    return line;
}

// ---------------------------------------------------------------- the session

// Both callbacks are given, as a host that uses them would; they only count.
void KX_STDCALL CountRecordCallback(uint32_t, uintptr_t) {
    ++g_recordCallbacks;
}
void KX_STDCALL CountProgressCallback(int32_t) {
    ++g_progressCallbacks;
}

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

    uint32_t id = 0;
    session.api.InitDriver(&id);
    std::u16string ip = Utf16(address), serial = Utf16(session.options.serial);
    std::u16string base = Utf16("http://" + address + ":" + std::to_string(port));
    session.api.SetParam(ip.c_str(), port, &CountRecordCallback, &CountProgressCallback);
    InitSyncParams params{0, session.window.window(), port, base.c_str(), serial.c_str()};
    session.api.InitSync(0, &params);

    session.runningType = KX_TYPE_CONTACT; // what Ctrl-C stops
    auto start = std::chrono::steady_clock::now();
    outcome->result = session.api.Read(KX_TYPE_CONTACT, 0);
    outcome->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    session.runningType = 0;

    session.window.FinishProgress();
    session.window.SetHandler(nullptr);
    session.window.Clear();
    session.api.UninitSync(0, 0);
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
