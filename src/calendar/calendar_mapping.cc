#include "calendar/calendar_mapping.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

#include <pugixml.hpp>

#include "calendar/calendar_text.h"
#include "calendar/recurrence_rule.h"
#include "platform/env.h"
#include "platform/format.h"
#include "platform/text.h"
#include "sync/time_conversions.h"
#include "trace/trace.h"
#include "transport/base64.h"
#include "transport/text_encoding.h"

namespace {

const char16_t kToCaller[] = u"kxconv::ToCalendarEx";
const char16_t kFromCaller[] = u"CalConv::FromCalendarEx";
const char16_t kExceptionCaller[] = u"CalConv::FromCalendarException";
const char16_t kMergeCaller[] = u"MergeCalendarExceptions";

// A member as text: strings as they are, numbers and booleans as their text; anything else
// (missing, null, arrays, objects) is empty.
std::string Text(const Json::Value& row, const char* key) {
    if (!row.isObject())
        return std::string();
    const Json::Value* v = row.find(key, key + std::strlen(key));
    if (!v || !(v->isString() || v->isNumeric() || v->isBool()))
        return std::string();
    return v->asString();
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Without(std::string text, const char* what) {
    size_t n = std::strlen(what);
    for (size_t pos; (pos = text.find(what)) != std::string::npos;)
        text.erase(pos, n);
    return text;
}

platform::OleDate ReadMillis(const std::string& text, bool allDay, const platform::OleDate& previous) {
    platform::OleDate date = previous;
    CalConv::MillisTextToDate(platform::Widen(text), allDay, &date);
    return date;
}

std::string Millis(const platform::OleDate& date, bool allDay) {
    return platform::Narrow(CalConv::DateToMillisText(date, allDay));
}

platform::CivilTime CivilOf(const platform::OleDate& date) {
    platform::CivilTime c;
    if (!CalConv::IsUsableDate(date) || !date.ToCivil(&c))
        c = platform::CivilTime{0, 0, 0, 0, 0, 0, 0};
    return c;
}

std::string InstantText(const platform::OleDate& date) {
    platform::CivilTime c = CivilOf(date);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return text;
}

std::string UtcStamp(const platform::OleDate& date) {
    platform::CivilTime c = CivilOf(date);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return text;
}

// "yyyy/mm/dd hh:mm:ss" of exactly 19 characters; false (date untouched) otherwise.
bool ReadInstantText(const std::string& text, platform::OleDate* date) {
    int y, mo, d, h, mi, s;
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
        return false;
    platform::OleDate read = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
    if (!read.valid())
        return false;
    *date = read;
    return true;
}

// The "time" attribute of an exception element: the local day of the instance it replaces or
// removes. False when it is absent or no date.
bool ReadDayAttribute(const pugi::xml_node& e, platform::CivilTime* day) {
    int y, mo, d;
    if (std::sscanf(e.attribute("time").value(), "%4d/%2d/%2d", &y, &mo, &d) != 3 ||
        !platform::OleDate::FromCivil(y, mo, d).valid())
        return false;
    *day = platform::CivilTime{y, mo, d, 0, 0, 0, 0};
    return true;
}

std::string DayText(const platform::CivilTime& c) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", c.year, c.month, c.day);
    return text;
}

// Base64 of the UTF-16LE bytes of a UTF-8 text, as the host keeps instance texts.
std::string Utf16Base64(const std::string& utf8) {
    std::u16string wide = Utf8ToWide(utf8);
    std::string bytes;
    bytes.reserve(wide.size() * 2);
    for (char16_t c : wide) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return Base64Encode(bytes.data(), bytes.size());
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

std::string Serialise(const pugi::xml_node& node) {
    StringWriter w;
    node.print(w, "", pugi::format_raw, pugi::encoding_utf8);
    return w.out;
}

std::string SerialiseDocument(const pugi::xml_document& doc) {
    StringWriter w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return w.out;
}

void AddText(pugi::xml_node parent, const char* name, const std::string& text) {
    parent.append_child(name).text().set(text.c_str());
}

// A modified instance row as its "modification" element; empty when its start is no date, as
// such an instance cannot be placed in its series (nor sent back).
std::string ModificationElement(const Json::Value& row) {
    bool allDay = CalConv::NarrowToNumber(Text(row, "allDay")) != 0;
    platform::OleDate noDate;
    noDate.status = platform::OleDate::kInvalid;
    platform::OleDate start = ReadMillis(Text(row, "dtstart"), allDay, noDate);
    if (!CalConv::IsUsableDate(start))
        return std::string();
    platform::OleDate end = ReadMillis(Text(row, "dtend"), allDay, platform::OleDate());
    std::string startText = InstantText(start);

    pugi::xml_document doc;
    pugi::xml_node e = doc.append_child("modification");
    e.append_attribute("datetime").set_value(startText.c_str());
    // An instance moved to another day still replaces the one of its original day: that day, not
    // the new one, is the removed instance to match and to send back.
    std::string original = Text(row, "originalInstanceTime");
    if (!original.empty()) {
        std::string originalAllDay = Text(row, "originalAllDay");
        bool byDate = originalAllDay.empty() ? allDay : CalConv::NarrowToNumber(originalAllDay) != 0;
        platform::OleDate noDate;
        noDate.status = platform::OleDate::kInvalid;
        platform::OleDate originalDate = ReadMillis(original, byDate, noDate);
        if (CalConv::IsUsableDate(originalDate))
            e.append_attribute("time").set_value(DayText(CivilOf(originalDate)).c_str());
    }
    const std::pair<const char*, const char*> texts[] = {
        {"title", "subject"}, {"eventLocation", "location"}, {"description", "body"}};
    for (const auto& t : texts) {
        std::string value = Text(row, t.first);
        if (!value.empty())
            AddText(e, t.second, Utf16Base64(value));
    }
    AddText(e, "allday", allDay ? "1" : "0");
    AddText(e, "start", startText);
    AddText(e, "end", InstantText(end));
    if (Text(row, "hasAlarm") == "1") {
        AddText(e, "reminderset", "1");
        const Json::Value& alarms = row["__data"];
        if (alarms.isArray() && !alarms.empty())
            AddText(e, "reminderdelta",
                    CalConv::NarrowNumber(CalConv::NarrowToNumber(Text(alarms[0], "minutes"))));
    } else {
        AddText(e, "reminderset", "0");
    }
    return Serialise(e);
}

// "yyyymmdd": how removed instances of all-day events may be written.
bool IsDateOnly(const std::string& part) {
    if (part.size() != 8)
        return false;
    for (char c : part)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The removed instances of one row. A part that is no UTC instant is skipped: nothing is built
// from an invalid date.
void ReadExdates(const std::string& text, const CalendarRecord& record, CalendarExdateList* exdates) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos + 1);
        std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? text.size() : comma + 1;
        int y, mo, d, h, mi, s;
        platform::OleDate instant;
        if (std::sscanf(part.c_str(), "%4d%2d%2dT%2d%2d%2dZ", &y, &mo, &d, &h, &mi, &s) == 6)
            instant = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
        else if (record.bAllDay && IsDateOnly(part))
            instant = platform::OleDate::FromCivil(std::stoi(part.substr(0, 4)), std::stoi(part.substr(4, 2)),
                                                   std::stoi(part.substr(6, 2)));
        else
            instant.status = platform::OleDate::kInvalid;
        if (!instant.valid()) {
            KX_TRACE_ERROR(kToCaller, platform::Format(u"exdate not a UTC instant: %S", part.c_str()));
            continue;
        }
        if (!record.bAllDay)
            instant = CalConv::UtcToLocal(instant);
        if (exdates)
            exdates->push_back(CalendarExdate{record.lPhoneId, InstantText(instant)});
    }
}

std::u16string TimeZoneField(const std::string& value) {
    std::string tz = platform::Trim(value);
    if (Upper(tz) == "UTC")
        return u"GMT:0;DST:0";
    size_t semi = tz.find(';');
    // Without ";" the whole text is the daylight part and the offset reads as 0.
    std::string offset = semi == std::string::npos ? std::string() : tz.substr(0, semi);
    std::string daylight = semi == std::string::npos ? tz : tz.substr(semi + 1);
    int64_t bias = -static_cast<int64_t>(CalConv::NarrowToNumber(offset));
    std::string text = "GMT:";
    if (bias >= 0)
        text += '+';
    text += std::to_string(bias) + ";DST:" + daylight;
    return platform::HostLines(Utf8ToWide(text));
}

// "GMT:<bias>;DST:<daylight>[;STD:<rule>;DLT:<rule>]" as the handset's "offset;daylight;std;dlt"
// with the transition rules made concrete in the year of the event's start.
std::string TimeZoneValue(const std::u16string& field, const CalendarRecord& record, bool allDay) {
    if (allDay)
        return "UTC";
    std::string text = SentText(field);
    for (const char* marker : {"GMT:", "DST:", "STD:", "DLT:"})
        text = Without(text, marker);
    std::string parts[4];
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        size_t semi = i < 3 ? text.find(';', pos) : std::string::npos;
        if (pos <= text.size())
            parts[i] = text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        pos = semi == std::string::npos ? text.size() + 1 : semi + 1;
    }
    int year = CivilOf(record.dtStart).year;
    std::string value = std::to_string(-static_cast<int64_t>(CalConv::NarrowToNumber(parts[0])));
    value += ";" + parts[1];
    for (int i = 2; i < 4; ++i) {
        char yearText[16];
        std::snprintf(yearText, sizeof yearText, "%04d", year);
        std::string rule = yearText + (parts[i].size() > 4 ? parts[i].substr(4) : std::string());
        value += ";" + platform::Narrow(CalConv::TransitionToDate(platform::Widen(rule)));
    }
    return value;
}

// The removed and modified instances of a record as its handset "exdate" (UTC instants at the
// event's time of day).
std::string ExdateValue(const std::u16string& field, const CalendarRecord& record) {
    pugi::xml_document doc;
    std::string xml = WideToUtf8(field);
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) {
        KX_TRACE_ERROR(kFromCaller, u"exception list is not XML");
        return std::string();
    }
    platform::CivilTime start = CivilOf(record.dtStart);
    std::string value;
    for (pugi::xml_node root : doc.children()) {
        for (pugi::xml_node e : root.children()) {
            if (std::strcmp(e.name(), "deletion") != 0 && std::strcmp(e.name(), "modification") != 0)
                continue;
            int y, mo, d;
            if (std::sscanf(e.attribute("time").value(), "%4d/%2d/%2d", &y, &mo, &d) != 3)
                continue;
            platform::OleDate instant =
                platform::OleDate::FromCivil(y, mo, d, start.hour, start.minute, start.second);
            if (!instant.valid())
                continue;
            if (!record.bAllDay)
                instant = CalConv::LocalToUtc(instant);
            if (!value.empty())
                value += ',';
            value += UtcStamp(instant);
        }
    }
    return value;
}

} // namespace

namespace kxconv {

bool ToCalendarEx(const Json::Value& row, CalendarRecord* record, CalendarExdateList* exdates,
                  CalendarExceptionList* exceptions) {
    if (!row.isObject())
        return false;
    std::string parentId = Text(row, "parentID");
    if (!parentId.empty()) {
        std::string element = ModificationElement(row);
        if (element.empty())
            KX_TRACE_ERROR(kToCaller, platform::Format(u"modified instance of %S without a start dropped",
                                                       parentId.c_str()));
        else if (exceptions)
            exceptions->push_back(CalendarException{CalConv::NarrowToNumber(parentId), std::move(element)});
        return false;
    }

    std::string allDay = Text(row, "allDay");
    record->bAllDay = !allDay.empty() && CalConv::NarrowToNumber(allDay) != 0 ? 1 : 0;
    const bool isAllDay = record->bAllDay != 0;
    std::string id = Text(row, "__id");
    record->lPhoneId = CalConv::NarrowToNumber(id);
    record->strId = Utf8ToWide(id);
    record->nCalendarId = CalConv::NarrowToNumber(Text(row, "calendar_id"));
    std::string updated = Text(row, "last_update_time");
    if (!updated.empty())
        record->dtLastModified = ReadMillis(updated, false, record->dtLastModified);
    record->lReminderMinutes = -1;
    record->lAux7 = 1;
    record->pSource = 0;
    record->lAux10 = 15;
    record->lState = 0;

    ReadExdates(Text(row, "exdate"), *record, exdates);

    record->dtStart = ReadMillis(Text(row, "dtstart"), isAllDay, record->dtStart);
    record->dtEnd = ReadMillis(Text(row, "dtend"), isAllDay, record->dtEnd);

    std::string duration = Upper(platform::Trim(Text(row, "duration")));
    if (!duration.empty() && (duration.back() == 'S' || duration.back() == 'D')) {
        bool seconds = duration.back() == 'S';
        std::string number = Without(Without(duration, "P"), seconds ? "S" : "D");
        if (!number.empty()) {
            int64_t span = static_cast<int64_t>(CalConv::NarrowToNumber(number)) * (seconds ? 1 : 86400);
            // Without a start, negative, or past the last date, the duration gives no end; "dtend"
            // stays.
            platform::OleDate end;
            end.status = platform::OleDate::kInvalid;
            if (span >= 0 && !CalConv::IsZeroDate(record->dtStart) && CalConv::IsUsableDate(record->dtStart))
                end = record->dtStart.AddSeconds(span);
            if (CalConv::IsUsableDate(end)) {
                if (end != record->dtEnd)
                    KX_TRACE_ERROR(kToCaller, u"dttime error");
                record->dtEnd = end;
            } else {
                KX_TRACE_ERROR(kToCaller, platform::Format(u"duration ignored: %S", duration.c_str()));
            }
        }
    }

    if (Text(row, "hasAlarm") == "1") {
        const Json::Value& alarms = row["__data"];
        if (alarms.isArray() && !alarms.empty())
            record->lReminderMinutes = CalConv::NarrowToNumber(Text(alarms[0], "minutes"));
    }

    CalConv::ApplyRecurrenceRule(Text(row, "rrule"), record);

    const std::pair<const char*, int32_t> texts[] = {
        {"title", KX_CAL_TITLE}, {"description", KX_CAL_DESCRIPTION}, {"iCalGUID", KX_CAL_ICAL_GUID}};
    for (const auto& t : texts) {
        std::u16string value = Utf8ToWide(Text(row, t.first));
        if (!value.empty())
            record->AddField(t.second, platform::HostLines(value));
    }
    std::string tz = Text(row, "eventTimezone");
    if (!platform::Trim(tz).empty())
        record->AddField(KX_CAL_TIMEZONE, TimeZoneField(tz));
    std::u16string location = Utf8ToWide(Text(row, "eventLocation"));
    if (!location.empty())
        record->AddField(KX_CAL_LOCATION, platform::HostLines(location));

    if (CalConv::IsZeroDate(record->dtStart))
        record->dtStart = record->dtEnd;
    return true;
}

int ToCalendarList(const Json::Value& response, RecordList<CalendarRecord>* list, CalendarExdateList* exdates,
                   CalendarExceptionList* exceptions) {
    if (!response.isObject())
        return 0;
    const Json::Value& objects = response["objects"];
    if (!objects.isArray())
        return 0;
    int added = 0;
    for (const Json::Value& row : objects) {
        std::unique_ptr<CalendarRecord> record(new CalendarRecord());
        if (ToCalendarEx(row, record.get(), exdates, exceptions)) {
            list->Add(std::move(record));
            ++added;
        }
    }
    return added;
}

} // namespace kxconv

namespace CalConv {

int FromCalendarEx(const CalendarRecord& record, Json::Value* row) {
    Json::Value& r = *row;
    const bool allDay = record.bAllDay != 0;
    r["title"] = "";
    r["description"] = "";
    r["eventLocation"] = "";
    r["rrule"] = "";
    r["hasAlarm"] = "0";
    r["allDay"] = "0";
    r["calendar_id"] = "4";
    r["exdate"] = "";
    r["dirty"] = "1";
    r["eventTimezone"] = std::to_string(-static_cast<int64_t>(platform::Env::Current()->ZoneBiasMinutes()));
    if (allDay)
        r["allDay"] = "1";

    // A date the record cannot hold (invalid, not a number, past the year 9999) is not sent.
    const bool hasStart = !IsZeroDate(record.dtStart) && IsUsableDate(record.dtStart);
    const bool hasEnd = !IsZeroDate(record.dtEnd) && IsUsableDate(record.dtEnd);
    if (hasStart)
        r["dtstart"] = Millis(record.dtStart, allDay);
    if (hasEnd)
        r["dtend"] = Millis(record.dtEnd, allDay);
    if (hasStart && hasEnd) {
        int64_t seconds = record.dtEnd.TotalSeconds() - record.dtStart.TotalSeconds();
        r["duration"] = "P" + std::to_string(seconds) + "S";
    }

    if (record.lReminderMinutes != -1) {
        Json::Value alarm(Json::objectValue);
        alarm["method"] = "1";
        alarm["minutes"] = NarrowNumber(record.lReminderMinutes);
        Json::Value alarms(Json::arrayValue);
        alarms.append(alarm);
        r["__data"] = alarms;
        r["hasAlarm"] = "1";
    }

    std::string rule = BuildRecurrenceRule(record);
    if (!rule.empty())
        r["rrule"] = rule;

    for (const CalendarField* f : record.fields) {
        if (!f)
            continue;
        switch (f->nType) {
        case KX_CAL_TITLE:
            r["title"] = SentText(f->strData);
            break;
        case KX_CAL_DESCRIPTION:
            r["description"] = SentText(f->strData);
            break;
        case KX_CAL_LOCATION:
            r["eventLocation"] = SentText(f->strData);
            break;
        case KX_CAL_TIMEZONE:
            r["eventTimezone"] = TimeZoneValue(f->strData, record, allDay);
            break;
        case KX_CAL_EXCEPTIONS: {
            // Read whole: the list is not sent as text, and cut short it would no longer be XML.
            std::string exdate = ExdateValue(f->strData, record);
            if (!exdate.empty())
                r["exdate"] = exdate;
            break;
        }
        default:
            break;
        }
    }

    if (!record.strId.empty())
        r["__id"] = WideToUtf8(record.strId);
    return 1;
}

bool FromCalendarException(const CalendarRecord& parent, const std::u16string* exceptionText,
                           Json::Value* rows, const std::u16string& iCalGuid, const std::u16string& parentId,
                           int32_t sdk) {
    if (!exceptionText) {
        KX_TRACE_ERROR(kExceptionCaller, u"no exception list");
        return false;
    }
    pugi::xml_document doc;
    std::string xml = WideToUtf8(*exceptionText);
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) {
        KX_TRACE_ERROR(kExceptionCaller, u"exception list is not XML");
        return false;
    }
    const bool parentAllDay = parent.bAllDay != 0;
    const CalendarField* zone = parent.LastField(KX_CAL_TIMEZONE);
    platform::CivilTime parentStart = CivilOf(parent.dtStart);
    bool appended = false;
    for (pugi::xml_node root : doc.children()) {
        for (pugi::xml_node e : root.children("modification")) {
            Json::Value row(Json::objectValue);
            row["calendar_id"] = "4";
            row["iCalGUID"] = WideToUtf8(iCalGuid);
            row["title"] = "";
            row["eventLocation"] = "";
            row["description"] = "";
            row["hasAlarm"] = "0";
            row["rrule"] = "";
            if (parentAllDay)
                row["originalAllDay"] = "1";
            row["parentID"] = WideToUtf8(parentId);

            const bool allDay = NarrowToNumber(e.child_value("allday")) != 0;
            if (allDay)
                row["allDay"] = "1";
            platform::OleDate start, end;
            if (ReadInstantText(e.child_value("start"), &start)) {
                row["dtstart"] = Millis(start, allDay);
                if (sdk >= 14) {
                    // The instance replaced is the one of the original day where the list names it.
                    platform::CivilTime day;
                    if (!ReadDayAttribute(e, &day))
                        day = CivilOf(start);
                    platform::OleDate original =
                        platform::OleDate::FromCivil(day.year, day.month, day.day, parentStart.hour,
                                                     parentStart.minute, parentStart.second);
                    row["originalInstanceTime"] = Millis(original, parentAllDay);
                }
            }
            if (ReadInstantText(e.child_value("end"), &end))
                row["dtend"] = Millis(end, allDay);
            pugi::xml_node set = e.child("reminderset");
            pugi::xml_node delta = e.child("reminderdelta");
            if (set && delta && NarrowToNumber(set.child_value()) != 0) {
                Json::Value alarm(Json::objectValue);
                alarm["method"] = "1";
                // The handset keeps minutes as a number; the host may have written anything.
                alarm["minutes"] = NarrowNumber(NarrowToNumber(delta.child_value()));
                Json::Value alarms(Json::arrayValue);
                alarms.append(alarm);
                row["__data"] = alarms;
                row["hasAlarm"] = "1";
            }
            const std::pair<const char*, const char*> texts[] = {
                {"subject", "title"}, {"location", "eventLocation"}, {"body", "description"}};
            for (const auto& t : texts) {
                pugi::xml_node n = e.child(t.first);
                if (n) {
                    const char* b64 = n.child_value();
                    row[t.second] = Base64Utf16ToUtf8(b64, std::strlen(b64));
                }
            }
            if (zone)
                row["eventTimezone"] = TimeZoneValue(zone->strData, parent, allDay);
            rows->append(row);
            appended = true;
        }
    }
    return appended;
}

void MergeCalendarExceptions(RecordList<CalendarRecord>* records, const CalendarExdateList& exdates,
                             const CalendarExceptionList& exceptions) {
    // Per parent id, in order of first appearance: its modifications and its removed instances.
    struct Entries {
        std::vector<const CalendarException*> modifications;
        std::vector<const CalendarExdate*> removed;
    };
    std::vector<int32_t> order;
    std::unordered_map<int32_t, Entries> byParent;
    for (const CalendarException& e : exceptions) {
        auto inserted = byParent.emplace(e.parentId, Entries());
        if (inserted.second)
            order.push_back(e.parentId);
        inserted.first->second.modifications.push_back(&e);
    }
    for (const CalendarExdate& x : exdates) {
        auto inserted = byParent.emplace(x.parentId, Entries());
        if (inserted.second)
            order.push_back(x.parentId);
        inserted.first->second.removed.push_back(&x);
    }
    if (order.empty())
        return;
    std::unordered_map<int32_t, CalendarRecord*> parents;
    for (CalendarRecord* r : *records)
        parents.emplace(r->lPhoneId, r); // the first record of an id wins

    for (int32_t id : order) {
        auto found = parents.find(id);
        if (found == parents.end()) {
            KX_TRACE_ERROR(kMergeCaller, platform::Format(u"no event %d for its exceptions", id));
            continue;
        }
        Entries& entries = byParent[id];
        pugi::xml_document doc;
        pugi::xml_node root = doc.append_child("exception");
        for (const CalendarException* m : entries.modifications) {
            pugi::xml_document part;
            if (!part.load_buffer(m->element.data(), m->element.size(), pugi::parse_default,
                                  pugi::encoding_utf8) ||
                !part.first_child()) {
                KX_TRACE_ERROR(kMergeCaller, u"exception element is not XML");
                continue;
            }
            pugi::xml_node e = root.append_copy(part.first_child());
            // The original day the element was read with, else the day of its start.
            platform::CivilTime original;
            std::string day;
            int y, mo, d, h, mi, s;
            if (ReadDayAttribute(e, &original)) {
                day = DayText(original);
            } else {
                if (std::sscanf(e.attribute("datetime").value(), "%4d/%2d/%2d %2d:%2d:%2d", &y, &mo, &d, &h,
                                &mi, &s) != 6)
                    continue;
                char text[32];
                std::snprintf(text, sizeof text, "%04d/%02d/%02d", y, mo, d);
                day = text;
                pugi::xml_attribute time = e.attribute("time");
                (time ? time : e.append_attribute("time")).set_value(day.c_str());
            }
            // The modified instance replaces the removed one of that day.
            for (size_t i = entries.removed.size(); i-- > 0;)
                if (entries.removed[i]->instant.compare(0, 10, day) == 0)
                    entries.removed.erase(entries.removed.begin() + static_cast<std::ptrdiff_t>(i));
        }
        for (const CalendarExdate* x : entries.removed)
            root.append_child("deletion")
                .append_attribute("time")
                .set_value(x->instant.substr(0, 10).c_str());
        found->second->AddField(KX_CAL_EXCEPTIONS, Utf8ToWide(SerialiseDocument(doc)));
    }
}

} // namespace CalConv
