#include "record_json.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <json/json.h>
#include <pugixml.hpp>

#include "codec_text.h"
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

// ---------------------------------------------------------------- the exception list

// Base64 as instance texts are in a read's list: a line break after every 76 characters, even the
// last (the driver writes CR LF; the XML it merges the list with keeps LF).
std::string Base64Lines(const std::string& bytes) {
    const std::string plain = Base64(bytes);
    std::string out;
    for (size_t at = 0; at < plain.size(); at += 76) {
        out.append(plain, at, 76);
        if (at + 76 <= plain.size() && plain[at + 75] != '=')
            out += '\n';
    }
    return out;
}

// Read as the driver reads it: anything outside the alphabet skipped, a short last group taken
// for what it holds.
std::string Unbase64(const std::string& text) {
    std::string clean, bytes;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/')
            clean += c;
    clean.resize(clean.size() % 4 == 1 ? clean.size() - 1 : clean.size());
    clean.append((4 - clean.size() % 4) % 4, '=');
    FromBase64(clean, &bytes);
    return bytes;
}

// An instance text: base64 of its UTF-16LE units, and back (up to a NUL unit, as the driver reads it).
std::string InstanceText(const std::string& utf8) {
    std::string bytes;
    for (char16_t c : platform::Utf8ToUtf16(utf8)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return Base64Lines(bytes);
}

std::string InstanceTextValue(const std::string& base64) {
    std::string bytes = Unbase64(base64);
    std::u16string wide;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        unsigned high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (high << 8));
        if (unit == 0)
            break;
        wide.push_back(unit);
    }
    return platform::Utf16ToUtf8(wide);
}

// The list's instants "yyyy/mm/dd hh:mm:ss" (an unusable date is all zeros) and days "yyyy/mm/dd".
std::string InstantText(const platform::OleDate& date) {
    platform::CivilTime c;
    if (!date.valid() || !(std::fabs(date.days) < 3e6) || !date.ToCivil(&c))
        c = platform::CivilTime{0, 0, 0, 0, 0, 0, 0};
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return text;
}

bool ReadInstant(const std::string& text, platform::OleDate* date) {
    int y, mo, d, h, mi, s;
    char tail;
    if (text == "0000/00/00 00:00:00") {
        *date = platform::OleDate();
        date->status = platform::OleDate::kInvalid;
        return true;
    }
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return false;
    *date = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
    return date->valid();
}

// "yyyy/mm/dd" and "yyyy-mm-dd" into each other; "" when it is no such day.
std::string Day(const std::string& text, char from, char to) {
    int y, mo, d;
    char a, b, tail;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d%c%2d%c%2d%c", &y, &a, &mo, &b, &d, &tail) != 5 ||
        a != from || b != from || !platform::OleDate::FromCivil(y, mo, d).valid())
        return "";
    char out[16];
    std::snprintf(out, sizeof out, "%04d%c%02d%c%02d", y, to, mo, to, d);
    return out;
}

// The time of an instance or of an event in the record form: a day for all-day ones, else zoned.
std::string TimeText(const platform::OleDate& date, bool allDay) {
    return allDay ? DayTimeText(date) : ZonedTimeText(date);
}

// How long the event lasts; 0 when it has no start or end.
int64_t EventSeconds(const CalendarRecord& r) {
    if (!r.dtStart.valid() || !r.dtEnd.valid() || IsNoDate(r.dtStart) || IsNoDate(r.dtEnd))
        return 0;
    return r.dtEnd.TotalSeconds() - r.dtStart.TotalSeconds();
}

const std::pair<const char*, const char*> kInstanceTexts[] = {
    {"subject", "title"}, {"location", "location"}, {"body", "description"}};

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

// The moved and cancelled instances of the driver's list; a list of another form is kept as it is.
// A moved instance without an end lasts as long as its event (seconds).
Json::Value ExceptionsJson(const std::string& xml, int64_t eventSeconds);
std::string ExceptionsXml(const Json::Value& v, int64_t eventSeconds);

Json::Value ExceptionsJson(const std::string& xml, int64_t eventSeconds) {
    Json::Value raw(Json::objectValue);
    raw["xml"] = xml;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8))
        return raw;
    Json::Value v(Json::objectValue);
    Json::Value& moved = v["moved"] = Json::Value(Json::arrayValue);
    Json::Value& cancelled = v["cancelled"] = Json::Value(Json::arrayValue);
    pugi::xml_node root = doc.first_child();
    for (pugi::xml_node e : root.children()) {
        if (std::strcmp(e.name(), "deletion") == 0) {
            cancelled.append(Day(e.attribute("time").value(), '/', '-'));
            continue;
        }
        Json::Value m(Json::objectValue);
        std::string original = Day(e.attribute("time").value(), '/', '-');
        if (!original.empty())
            m["original"] = original;
        const bool allDay = std::strcmp(e.child_value("allday"), "1") == 0;
        m["allDay"] = allDay;
        platform::OleDate start, end;
        if (ReadInstant(e.child_value("start"), &start))
            m["start"] = TimeText(start, allDay);
        if (ReadInstant(e.child_value("end"), &end) && !IsNoDate(end))
            m["end"] = TimeText(end, allDay);
        for (const auto& t : kInstanceTexts)
            if (pugi::xml_node n = e.child(t.first))
                m[t.second] = InstanceTextValue(n.child_value());
        if (std::strcmp(e.child_value("reminderset"), "1") == 0)
            m["reminderMinutes"] = e.child("reminderdelta")
                                       ? Json::Value(std::atoi(e.child_value("reminderdelta")))
                                       : Json::Value();
        moved.append(m);
    }
    // Only what makes the very same list again is taken for it.
    std::string again = ExceptionsXml(v, eventSeconds);
    return again == xml ? v : raw;
}

std::string ExceptionsXml(const Json::Value& v, int64_t eventSeconds) {
    if (v.isMember("xml"))
        return v["xml"].asString();
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("exception");
    for (const Json::Value& m : v["moved"]) {
        const bool allDay = m["allDay"].asBool();
        platform::OleDate start, end;
        std::string why;
        ParseTimeText(m["start"].asString(), !allDay, &start, &why);
        if (m.isMember("end"))
            ParseTimeText(m["end"].asString(), !allDay, &end, &why);
        else if (start.valid())
            end = start.AddSeconds(eventSeconds);
        const std::string startText = InstantText(start);
        pugi::xml_node e = root.append_child("modification");
        e.append_attribute("datetime").set_value(startText.c_str());
        if (m.isMember("original"))
            e.append_attribute("time").set_value(Day(m["original"].asString(), '-', '/').c_str());
        for (const auto& t : kInstanceTexts)
            if (m.isMember(t.second))
                e.append_child(t.first).text().set(InstanceText(m[t.second].asString()).c_str());
        e.append_child("allday").text().set(allDay ? "1" : "0");
        e.append_child("start").text().set(startText.c_str());
        e.append_child("end").text().set(InstantText(end).c_str());
        const bool reminder = m.isMember("reminderMinutes");
        e.append_child("reminderset").text().set(reminder ? "1" : "0");
        if (reminder && !m["reminderMinutes"].isNull())
            e.append_child("reminderdelta").text().set(std::to_string(m["reminderMinutes"].asInt()).c_str());
    }
    for (const Json::Value& day : v["cancelled"])
        root.append_child("deletion")
            .append_attribute("time")
            .set_value(Day(day.asString(), '-', '/').c_str());
    StringWriter w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return w.out;
}

// ---------------------------------------------------------------- reading lines

// Reads the members of one JSON object; the first problem is kept in *error.
class Reader {
public:
    Reader(const Json::Value& v, std::string* error, std::string where = "")
        : v_(v), error_(error), where_(std::move(where)) {}

    bool Fail(const std::string& what) {
        *error_ = what;
        return false;
    }
    // "\"name\"" and where the object is ("\"kind\" in \"repeat\"").
    std::string Q(const std::string& name) const { return "\"" + name + "\"" + where_; }

    bool OnlyKnown(std::initializer_list<const char*> names) {
        for (const std::string& member : v_.getMemberNames())
            if (std::none_of(names.begin(), names.end(), [&](const char* n) { return member == n; }))
                return Fail("unknown member " + Q(member));
        return true;
    }

    bool Has(const char* name) const { return v_.isMember(name); }

    bool Text(const char* name, std::string* out) {
        if (!Has(name))
            return true;
        if (!v_[name].isString())
            return Fail(Q(name) + " must be a string");
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
            return Fail(Q(name) + " must be a whole number");
        *out = v_[name].asInt();
        return true;
    }
    bool Bool(const char* name, int32_t* out) {
        if (!Has(name))
            return true;
        if (!v_[name].isBool())
            return Fail(Q(name) + " must be true or false");
        *out = v_[name].asBool() ? 1 : 0;
        return true;
    }
    // A time of the record form (record_text.h); left as it is when absent.
    bool Time(const char* name, bool zoned, platform::OleDate* out) {
        std::string text, why;
        if (!Has(name))
            return true;
        if (!Text(name, &text))
            return false;
        if (!ParseTimeText(text, zoned, out, &why))
            return Fail(Q(name) + " must be " + why + ", not \"" + text + "\"");
        return true;
    }
    // "yyyy-mm-dd".
    bool DayText(const Json::Value& value, const char* name) {
        if (!value.isString() || Day(value.asString(), '-', '-').empty())
            return Fail(Q(name) + " must be a day \"yyyy-mm-dd\"" +
                        (value.isString() ? ", not \"" + value.asString() + "\"" : ""));
        return true;
    }
    // "op": the status bit; none when absent.
    bool Op(int32_t* flag) {
        std::string op;
        if (!Has("op"))
            return true;
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
    std::string where_;
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

// The exceptions member of a line, checked; the list as the driver keeps it in *xml.
bool ParseExceptions(const Json::Value& v, int64_t eventSeconds, std::string* xml, std::string* error) {
    if (!v.isObject())
        return Reader(v, error).Fail("\"exceptions\" must be an object");
    Reader in(v, error, " in \"exceptions\"");
    if (v.isMember("xml")) {
        if (!in.OnlyKnown({"xml"}) || !in.Text("xml", xml))
            return false;
        return true;
    }
    if (!in.OnlyKnown({"moved", "cancelled"}))
        return false;
    for (const char* list : {"moved", "cancelled"})
        if (v.isMember(list) && !v[list].isArray())
            return in.Fail(in.Q(list) + " must be a list");
    for (const Json::Value& day : v["cancelled"])
        if (!in.DayText(day, "cancelled"))
            return false;
    for (const Json::Value& m : v["moved"]) {
        if (!m.isObject())
            return in.Fail(in.Q("moved") + " must be a list of objects");
        Reader instance(m, error, " in a moved instance");
        int32_t allDay = 0, minutes = 0;
        std::string text;
        platform::OleDate date;
        if (!instance.OnlyKnown({"original", "allDay", "start", "end", "title", "location", "description",
                                 "reminderMinutes"}) ||
            !instance.Bool("allDay", &allDay) || !instance.Time("start", !allDay, &date) ||
            !instance.Time("end", !allDay, &date) || !instance.Text("title", &text) ||
            !instance.Text("location", &text) || !instance.Text("description", &text) ||
            (m.isMember("original") && !instance.DayText(m["original"], "original")))
            return false;
        if (!m.isMember("start"))
            return instance.Fail("no " + instance.Q("start"));
        if (m.isMember("reminderMinutes") && !m["reminderMinutes"].isNull() &&
            !instance.Int("reminderMinutes", &minutes))
            return false;
    }
    *xml = ExceptionsXml(v, eventSeconds);
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

// ---------------------------------------------------------------- printing

// The status bit, id, modification time, every field by readable name (each a list of its values
// in the record's order), the picture.
Json::Value ContactJsonValue(const ContactRecord& r) {
    Json::Value v(Json::objectValue);
    if (*OpName(r.lFlag))
        v["op"] = OpName(r.lFlag);
    v["id"] = Utf8(r.strPIMID);
    if (!IsNoDate(r.strLastModify))
        v["modified"] = ZonedTimeText(r.strLastModify);
    Json::Value& fields = v["fields"] = Json::Value(Json::objectValue);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        Json::Value& list = fields[ContactFieldName(f->nType)];
        if (list.isNull())
            list = Json::Value(Json::arrayValue);
        list.append(Utf8(f->strData));
    }
    std::u16string picture = PicturePath(r);
    if (!picture.empty())
        v["picture"] = Utf8(picture);
    return v;
}

std::string ContactJsonLine(const ContactRecord& r) {
    return JsonLineText(ContactJsonValue(r));
}

Json::Value CalendarJsonValue(const CalendarRecord& r) {
    const bool allDay = r.bAllDay != 0;
    Json::Value v(Json::objectValue);
    if (*OpName(r.lFlag))
        v["op"] = OpName(r.lFlag);
    v["id"] = Utf8(r.strId);
    v["title"] = FieldText(r, KX_CAL_TITLE);
    if (!IsNoDate(r.dtStart))
        v["start"] = TimeText(r.dtStart, allDay);
    if (!IsNoDate(r.dtEnd))
        v["end"] = TimeText(r.dtEnd, allDay);
    v["allDay"] = allDay;
    v["calendar"] = r.nCalendarId;
    if (!IsNoDate(r.dtLastModified))
        v["modified"] = ZonedTimeText(r.dtLastModified);
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
        if (r.lRecurDayMask) {
            Json::Value& days = rule["days"] = Json::Value(Json::arrayValue);
            for (int i = 0; i < 7; ++i)
                if (r.lRecurDayMask & (1 << i))
                    days.append(kDayCodes[i]);
        }
        if (r.lRecurByWeekday)
            rule["week"] = r.lRecurWeek;
        if (r.lRecurDay)
            rule["day"] = r.lRecurDay;
        if (r.lRecurMonth)
            rule["month"] = r.lRecurMonth;
        if (r.bRecurHasEnd)
            rule["until"] = TimeText(r.dtRecurEnd, allDay);
    }
    std::string exceptions = FieldText(r, KX_CAL_EXCEPTIONS);
    if (!exceptions.empty())
        v["exceptions"] = ExceptionsJson(exceptions, EventSeconds(r));
    return v;
}

std::string CalendarJsonLine(const CalendarRecord& r) {
    return JsonLineText(CalendarJsonValue(r));
}

// ---------------------------------------------------------------- parsing

bool ParseContactLine(const std::string& line, ContactRecord* record, std::string* error) {
    Json::Value v;
    if (!ParseObject(line, &v, error))
        return false;
    Reader in(v, error);
    std::u16string picture;
    // A line without a time is a record without one (a new record has the time it was made).
    record->strLastModify = platform::OleDate();
    if (!in.OnlyKnown({"op", "id", "modified", "fields", "picture"}) || !in.Op(&record->lFlag) ||
        !in.Text("id", &record->strPIMID) || !in.Time("modified", true, &record->strLastModify) ||
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
    // Kept by name, so the order across types is gone: the types' order stands in for it;
    // within a type the list keeps the order.
    std::vector<std::tuple<int32_t, Json::ArrayIndex, std::string>> values;
    for (const std::string& name : fields.getMemberNames()) {
        int32_t type;
        if (!FieldType(name, &type))
            return in.Fail("unknown field \"" + name + "\"");
        const Json::Value& value = fields[name];
        bool strings = value.isArray();
        for (Json::ArrayIndex i = 0; strings && i < value.size(); ++i)
            strings = value[i].isString();
        if (!strings)
            return in.Fail("field \"" + name + "\" must be a list of strings");
        for (Json::ArrayIndex i = 0; i < value.size(); ++i)
            values.emplace_back(type, i, value[i].asString());
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
                       "description", "timeZone", "iCalGUID", "reminderMinutes", "repeat", "exceptions"}) ||
        !in.Op(&record->lFlag) || !in.Text("id", &record->strId) || !in.Bool("allDay", &record->bAllDay))
        return false;
    const bool zoned = record->bAllDay == 0;
    if (!in.Time("start", zoned, &record->dtStart) || !in.Time("end", zoned, &record->dtEnd) ||
        !in.Int("calendar", &record->nCalendarId) || !in.Time("modified", true, &record->dtLastModified) ||
        !in.Int("reminderMinutes", &record->lReminderMinutes))
        return false;
    if (!record->strId.empty())
        record->lPhoneId = LeadingNumber(Utf8(record->strId));

    std::string exceptions;
    if (in.Has("exceptions") && !ParseExceptions(v["exceptions"], EventSeconds(*record), &exceptions, error))
        return false;
    // In the order a read adds them; only the last of a type counts, and there is one each.
    const std::pair<const char*, int32_t> texts[] = {{"title", KX_CAL_TITLE},
                                                     {"description", KX_CAL_DESCRIPTION},
                                                     {"iCalGUID", KX_CAL_ICAL_GUID},
                                                     {"timeZone", KX_CAL_TIMEZONE},
                                                     {"location", KX_CAL_LOCATION}};
    for (const auto& text : texts) {
        std::u16string value;
        if (!in.Text(text.first, &value))
            return false;
        if (!value.empty())
            record->AddField(text.second, value);
    }
    if (!exceptions.empty())
        record->AddField(KX_CAL_EXCEPTIONS, platform::Utf8ToUtf16(exceptions));

    if (!in.Has("repeat"))
        return true;
    const Json::Value& repeat = v["repeat"];
    if (!repeat.isObject())
        return in.Fail("\"repeat\" must be an object");
    Reader rule(repeat, error, " in \"repeat\"");
    std::string kind;
    if (!rule.OnlyKnown({"kind", "interval", "days", "week", "day", "month", "until"}) ||
        !rule.Text("kind", &kind) || !rule.Int("interval", &record->lRecurInterval) ||
        !rule.Int("week", &record->lRecurWeek) || !rule.Int("day", &record->lRecurDay) ||
        !rule.Int("month", &record->lRecurMonth) || !rule.Time("until", zoned, &record->dtRecurEnd))
        return false;
    for (int32_t type = 1; type <= 4; ++type)
        if (kind == kRepeatNames[type])
            record->lRecurType = type;
    if (record->lRecurType == 0)
        return rule.Fail(rule.Q("kind") + " must be daily, weekly, monthly or yearly");
    record->lRecurByWeekday = rule.Has("week") ? 1 : 0;
    record->bRecurHasEnd = rule.Has("until") ? 1 : 0;
    if (rule.Has("days")) {
        const Json::Value& days = repeat["days"];
        if (!days.isArray())
            return rule.Fail(rule.Q("days") + " must be a list of day codes SU, MO, TU, WE, TH, FR, SA");
        for (const Json::Value& code : days) {
            auto day =
                std::find(std::begin(kDayCodes), std::end(kDayCodes), code.isString() ? code.asString() : "");
            if (day == std::end(kDayCodes))
                return rule.Fail(rule.Q("days") +
                                 " must be a list of day codes SU, MO, TU, WE, TH, FR, SA, not " +
                                 JsonLineText(days));
            record->lRecurDayMask |= 1 << (day - std::begin(kDayCodes));
        }
    }
    return true;
}

} // namespace kxsync
