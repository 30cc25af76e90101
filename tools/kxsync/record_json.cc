#include "record_json.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <json/json.h>

#include "platform/oledate.h"
#include "platform/utf.h"
#include "record_text.h"

namespace kxsync {

namespace {

const char* const kRepeatNames[] = {"", "daily", "weekly", "monthly", "yearly"};
const char* const kDayCodes[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

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

// The picture rides on the first field of type 1, else 2, else 3, else 5 (the record's inline
// accessors only, so that printing needs none of the record's own code).
std::u16string PicturePath(const ContactRecord& r) {
    for (int32_t type : {1, 2, 3, 5})
        for (int32_t i = 0; i < r.GetFieldCount(); ++i)
            if (const ContactField* f = r.GetField(i))
                if (f->nType == type)
                    return f->strFilePath;
    return std::u16string();
}

// Ids are decimal texts; the numeric copy a read keeps beside them saturates like the driver's.
int32_t LeadingNumber(const std::string& text) {
    long long n = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, n)));
}

// Reads the members of one JSON object; the first problem is kept in *error.
class Reader {
public:
    Reader(const Json::Value& v, std::string* error) : v_(v), error_(error) {}

    bool Fail(const std::string& what) {
        *error_ = what;
        return false;
    }

    bool OnlyKnown(std::initializer_list<const char*> names, const char* where) {
        for (const std::string& member : v_.getMemberNames())
            if (std::none_of(names.begin(), names.end(), [&](const char* n) { return member == n; }))
                return Fail(std::string("unknown member \"") + member + "\"" + where);
        return true;
    }

    bool Has(const char* name) const { return v_.isMember(name); }

    bool Text(const char* name, std::string* out) {
        if (!Has(name))
            return true;
        if (!v_[name].isString())
            return Fail(std::string("\"") + name + "\" must be a string");
        *out = v_[name].asString();
        return true;
    }
    bool Text(const char* name, std::u16string* out) {
        std::string text;
        if (!Text(name, &text))
            return false;
        if (Has(name))
            *out = platform::Utf8ToUtf16(text);
        return true;
    }
    bool Int(const char* name, int32_t* out) {
        if (!Has(name))
            return true;
        if (!v_[name].isInt())
            return Fail(std::string("\"") + name + "\" must be a whole number");
        *out = v_[name].asInt();
        return true;
    }
    bool Bool(const char* name, int32_t* out) {
        if (!Has(name))
            return true;
        if (!v_[name].isBool())
            return Fail(std::string("\"") + name + "\" must be true or false");
        *out = v_[name].asBool() ? 1 : 0;
        return true;
    }
    // The printer's "yyyy-mm-dd hh:mm:ss"; "" is the invalid date it prints as "".
    bool Date(const char* name, platform::OleDate* out) {
        std::string text;
        if (!Has(name) || !Text(name, &text))
            return !Has(name);
        if (text.empty()) {
            *out = platform::OleDate();
            out->status = platform::OleDate::kInvalid;
            return true;
        }
        int y, mo, d, h, mi, s;
        char tail;
        platform::OleDate date;
        if (text.size() != 19 ||
            std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6 ||
            !(date = platform::OleDate::FromCivil(y, mo, d, h, mi, s)).valid())
            return Fail(std::string("\"") + name + "\" must be a date \"yyyy-mm-dd hh:mm:ss\", not \"" +
                        text + "\"");
        *out = date;
        return true;
    }
    // "op": the status bit.
    bool Op(int32_t* flag) {
        std::string op;
        if (!Has("op"))
            return Fail("no \"op\" (create, update or delete)");
        if (!Text("op", &op))
            return false;
        for (int32_t bit : {KX_RECORD_CREATE, KX_RECORD_UPDATE, KX_RECORD_DELETE})
            if (op == OpName(bit)) {
                *flag = bit;
                return true;
            }
        return Fail("unknown \"op\" \"" + op + "\" (create, update or delete)");
    }

private:
    const Json::Value& v_;
    std::string* error_;
};

bool ParseObject(const std::string& line, Json::Value* v, std::string* error) {
    // One reader for every line (setting one up costs more than a line); a reader is for one
    // thread at a time, the lock says so.
    static std::mutex lock;
    static const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder builder;
        builder["rejectDupKeys"] = true;
        builder["failIfExtra"] = true;
        return std::unique_ptr<Json::CharReader>(builder.newCharReader());
    }();
    std::string errors;
    bool parsed;
    {
        std::lock_guard<std::mutex> hold(lock);
        parsed = reader->parse(line.data(), line.data() + line.size(), v, &errors);
    }
    if (!parsed) {
        // JsonCpp lists its findings over several lines ("* Line 1, Column 9\n  Missing ...\n* ..."):
        // the first, on one line.
        size_t start = errors.compare(0, 2, "* ") == 0 ? 2 : 0;
        size_t next = errors.find("\n* ", start);
        std::string text;
        for (char c : errors.substr(start, next == std::string::npos ? next : next - start))
            if (!(c == '\n' || c == ' ') || (!text.empty() && text.back() != ' '))
                text += c == '\n' ? ' ' : c;
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        *error = "not JSON (" + text + ")";
        return false;
    }
    if (!v->isObject()) {
        *error = "not a JSON object";
        return false;
    }
    return true;
}

// The field type of a printed name; only the name the printer gives that type counts.
bool FieldType(const std::string& name, int32_t* type) {
    // The names looked up by text (the first type of a name, in the table's order, as a walk of
    // the table finds it).
    static const std::unordered_map<std::string, int32_t> byName = [] {
        std::unordered_map<std::string, int32_t> map;
        for (const auto& entry : FieldNames())
            map.emplace(entry.second, entry.first);
        return map;
    }();
    if (auto it = byName.find(name); it != byName.end()) {
        *type = it->second;
        return true;
    }
    long long n = 0;
    if (name == "email")
        n = KX_CF_EMAIL;
    else if (name.compare(0, 5, "email") == 0 && name.size() > 5)
        n = std::strtoll(name.c_str() + 5, nullptr, 10) + KX_CF_EMAIL - 1;
    else if (name.compare(0, 5, "field") == 0 && name.size() > 5)
        n = std::strtoll(name.c_str() + 5, nullptr, 10);
    else
        return false;
    if (n < INT32_MIN || n > INT32_MAX || ContactFieldName(static_cast<int32_t>(n)) != name)
        return false;
    *type = static_cast<int32_t>(n);
    return true;
}

} // namespace

std::string FieldText(const CalendarRecord& r, int32_t type) {
    const CalendarField* f = r.LastField(type);
    return f ? Utf8(f->strData) : std::string();
}

std::string Days(int32_t mask) {
    std::string text;
    for (int i = 0; i < 7; ++i)
        if (mask & (1 << i))
            text += (text.empty() ? "" : ",") + std::string(kDayCodes[i]);
    return text;
}

std::string RepeatName(int32_t kind) {
    return kind >= 0 && kind < static_cast<int32_t>(std::size(kRepeatNames)) ? kRepeatNames[kind] : "";
}

std::string ContactFieldName(int32_t type) {
    if (type >= KX_CF_EMAIL && type < KX_CF_WEB_SITE)
        return type == KX_CF_EMAIL ? "email" : "email" + std::to_string(type - KX_CF_EMAIL + 1);
    auto it = FieldNames().find(type);
    return it != FieldNames().end() ? it->second : "field" + std::to_string(type);
}

const char* OpName(int32_t flag) {
    return flag & KX_RECORD_CREATE   ? "create"
           : flag & KX_RECORD_UPDATE ? "update"
           : flag & KX_RECORD_DELETE ? "delete"
                                     : "";
}

// Id, modification time, fields by readable name (repeated names become arrays), the picture.
std::string ContactJsonLine(const ContactRecord& r) {
    Json::Value v(Json::objectValue);
    v["id"] = Utf8(r.strPIMID);
    v["modified"] = DateText(r.strLastModify);
    Json::Value& fields = v["fields"] = Json::Value(Json::objectValue);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        std::string name = ContactFieldName(f->nType);
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

std::string CalendarJsonLine(const CalendarRecord& r) {
    Json::Value v(Json::objectValue);
    v["id"] = Utf8(r.strId);
    v["title"] = FieldText(r, KX_CAL_TITLE);
    v["start"] = DateText(r.dtStart);
    v["end"] = DateText(r.dtEnd);
    v["allDay"] = r.bAllDay != 0;
    v["calendar"] = r.nCalendarId;
    v["modified"] = DateText(r.dtLastModified);
    const std::pair<const char*, int32_t> texts[] = {{"location", KX_CAL_LOCATION},
                                                     {"description", KX_CAL_DESCRIPTION},
                                                     {"timeZone", KX_CAL_TIMEZONE},
                                                     {"iCalGUID", KX_CAL_ICAL_GUID}};
    for (const auto& text : texts) {
        std::string value = FieldText(r, text.second);
        if (!value.empty())
            v[text.first] = value;
    }
    if (r.lReminderMinutes != -1)
        v["reminderMinutes"] = r.lReminderMinutes;
    if (r.lRecurType >= 1 && r.lRecurType <= 4) {
        Json::Value& rule = v["repeat"] = Json::Value(Json::objectValue);
        rule["kind"] = RepeatName(r.lRecurType);
        rule["interval"] = r.lRecurInterval;
        if (r.lRecurDayMask)
            rule["days"] = Days(r.lRecurDayMask);
        if (r.lRecurByWeekday)
            rule["week"] = r.lRecurWeek;
        if (r.lRecurDay)
            rule["day"] = r.lRecurDay;
        if (r.lRecurMonth)
            rule["month"] = r.lRecurMonth;
        if (r.bRecurHasEnd)
            rule["until"] = DateText(r.dtRecurEnd);
    }
    std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
    if (!exceptions.empty())
        v["exceptions"] = exceptions;
    return JsonLineText(v);
}

bool ParseContactLine(const std::string& line, ContactRecord* record, std::string* error) {
    Json::Value v;
    if (!ParseObject(line, &v, error))
        return false;
    Reader in(v, error);
    std::u16string picture;
    if (!in.OnlyKnown({"op", "id", "modified", "fields", "picture"}, "") || !in.Op(&record->lFlag) ||
        !in.Text("id", &record->strPIMID) || !in.Date("modified", &record->strLastModify) ||
        !in.Text("picture", &picture))
        return false;
    // What a read keeps beside the id of every contact it builds.
    if (!record->strPIMID.empty()) {
        record->lPhoneMemory = LeadingNumber(Utf8(record->strPIMID));
        record->dtLocation = 1;
    }

    const Json::Value& fields = v["fields"];
    if (!fields.isNull() && !fields.isObject())
        return in.Fail("\"fields\" must be an object");
    // Printed by name, so the order across types is gone: the types' order stands in for it;
    // within a type the array keeps the order.
    std::vector<std::tuple<int32_t, Json::ArrayIndex, std::string>> values;
    for (const std::string& name : fields.getMemberNames()) {
        int32_t type;
        if (!FieldType(name, &type))
            return in.Fail("unknown field \"" + name + "\"");
        const Json::Value& value = fields[name];
        if (value.isString()) {
            values.emplace_back(type, 0, value.asString());
            continue;
        }
        if (!value.isArray())
            return in.Fail("field \"" + name + "\" must be a string or an array of strings");
        for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
            if (!value[i].isString())
                return in.Fail("field \"" + name + "\" must be a string or an array of strings");
            values.emplace_back(type, i, value[i].asString());
        }
    }
    std::sort(values.begin(), values.end());
    for (const auto& value : values)
        record->AddField(std::get<0>(value), platform::Utf8ToUtf16(std::get<2>(value)));
    if (!picture.empty())
        record->SetPicturePath(picture);
    return true;
}

bool ParseCalendarLine(const std::string& line, CalendarRecord* record, std::string* error) {
    Json::Value v;
    if (!ParseObject(line, &v, error))
        return false;
    Reader in(v, error);
    // What a read gives every event before its row is looked at.
    record->lReminderMinutes = -1;
    record->lAux7 = 1;
    record->lAux10 = 15;
    record->lState = 0;
    if (!in.OnlyKnown({"op", "id", "title", "start", "end", "allDay", "calendar", "modified", "location",
                       "description", "timeZone", "iCalGUID", "reminderMinutes", "repeat", "exceptions"},
                      "") ||
        !in.Op(&record->lFlag) || !in.Text("id", &record->strId) || !in.Date("start", &record->dtStart) ||
        !in.Date("end", &record->dtEnd) || !in.Bool("allDay", &record->bAllDay) ||
        !in.Int("calendar", &record->nCalendarId) || !in.Date("modified", &record->dtLastModified) ||
        !in.Int("reminderMinutes", &record->lReminderMinutes))
        return false;
    if (!record->strId.empty())
        record->lPhoneId = LeadingNumber(Utf8(record->strId));

    // In the order a read adds them; only the last of a type counts, and there is one each.
    const std::pair<const char*, int32_t> texts[] = {
        {"title", KX_CAL_TITLE},        {"description", KX_CAL_DESCRIPTION},
        {"iCalGUID", KX_CAL_ICAL_GUID}, {"timeZone", KX_CAL_TIMEZONE},
        {"location", KX_CAL_LOCATION},  {"exceptions", KX_CAL_EXCEPTIONS}};
    for (const auto& text : texts) {
        std::u16string value;
        if (!in.Text(text.first, &value))
            return false;
        if (!value.empty())
            record->AddField(text.second, value);
    }

    if (!in.Has("repeat"))
        return true;
    const Json::Value& repeat = v["repeat"];
    if (!repeat.isObject())
        return in.Fail("\"repeat\" must be an object");
    Reader rule(repeat, error);
    std::string kind, days;
    if (!rule.OnlyKnown({"kind", "interval", "days", "week", "day", "month", "until"}, " in \"repeat\"") ||
        !rule.Text("kind", &kind) || !rule.Int("interval", &record->lRecurInterval) ||
        !rule.Text("days", &days) || !rule.Int("week", &record->lRecurWeek) ||
        !rule.Int("day", &record->lRecurDay) || !rule.Int("month", &record->lRecurMonth) ||
        !rule.Date("until", &record->dtRecurEnd))
        return false;
    for (int32_t type = 1; type <= 4; ++type)
        if (kind == kRepeatNames[type])
            record->lRecurType = type;
    if (record->lRecurType == 0)
        return in.Fail("\"kind\" in \"repeat\" must be daily, weekly, monthly or yearly");
    record->lRecurByWeekday = rule.Has("week") ? 1 : 0;
    record->bRecurHasEnd = rule.Has("until") ? 1 : 0;
    for (size_t start = 0; !days.empty() && start <= days.size();) {
        size_t end = std::min(days.find(',', start), days.size());
        std::string code = days.substr(start, end - start);
        auto day = std::find(std::begin(kDayCodes), std::end(kDayCodes), code);
        if (day == std::end(kDayCodes))
            return in.Fail("\"days\" in \"repeat\" must be day codes SU,MO,TU,WE,TH,FR,SA, not \"" + days +
                           "\"");
        record->lRecurDayMask |= 1 << (day - std::begin(kDayCodes));
        start = end + 1;
    }
    return true;
}

} // namespace kxsync
