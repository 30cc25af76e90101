#include "calendar/calendar_exceptions.h"

#include <cstdio>
#include <cstring>

#include "calendar/calendar_mapping.h"
#include "calendar/calendar_text.h"
#include "calendar/calendar_zone.h"
#include "trace/trace.h"
#include "transport/base64.h"
#include "transport/text_encoding.h"

namespace {

const char16_t kExceptionCaller[] = u"CalConv::FromCalendarException";

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

void AddText(pugi::xml_node parent, const char* name, const std::string& text) {
    parent.append_child(name).text().set(text.c_str());
}

} // namespace

namespace CalConv {

namespace {

template <class Row> std::string ModificationElementOf(const Row& row) {
    bool allDay = NarrowToNumber(RowText(row, "allDay")) != 0;
    platform::OleDate start = ReadMillis(RowText(row, "dtstart"), allDay, InvalidDate());
    if (!IsUsableDate(start))
        return std::string();
    platform::OleDate end = ReadMillis(RowText(row, "dtend"), allDay, platform::OleDate());
    std::string startText = InstantText(start);

    pugi::xml_document doc;
    pugi::xml_node e = doc.append_child("modification");
    e.append_attribute("datetime").set_value(startText.c_str());
    // An instance moved to another day still replaces the one of its original day: that day, not
    // the new one, is the removed instance to match and to send back.
    std::string original = RowText(row, "originalInstanceTime");
    if (!original.empty()) {
        std::string originalAllDay = RowText(row, "originalAllDay");
        bool byDate = originalAllDay.empty() ? allDay : NarrowToNumber(originalAllDay) != 0;
        platform::OleDate originalDate = ReadMillis(original, byDate, InvalidDate());
        if (IsUsableDate(originalDate))
            e.append_attribute("time").set_value(DayText(CivilOf(originalDate)).c_str());
    }
    const std::pair<const char*, const char*> texts[] = {
        {"title", "subject"}, {"eventLocation", "location"}, {"description", "body"}};
    for (const auto& t : texts) {
        std::string value = RowText(row, t.first);
        if (!value.empty())
            AddText(e, t.second, Utf16Base64(value));
    }
    AddText(e, "allday", allDay ? "1" : "0");
    AddText(e, "start", startText);
    AddText(e, "end", InstantText(end));
    if (RowText(row, "hasAlarm") == "1") {
        AddText(e, "reminderset", "1");
        const auto& alarms = row["__data"];
        if (alarms.isArray() && !alarms.empty())
            AddText(e, "reminderdelta", NarrowNumber(NarrowToNumber(RowText(alarms[0], "minutes"))));
    } else {
        AddText(e, "reminderset", "0");
    }
    return Serialise(e);
}

} // namespace

std::string ModificationElement(const Json::Value& row) {
    return ModificationElementOf(row);
}

std::string ModificationElement(const fastjson::Value& row) {
    return ModificationElementOf(row);
}

bool LoadExceptionList(const std::u16string& text, pugi::xml_document* doc, const char16_t* caller) {
    std::string xml = WideToUtf8(text);
    if (!doc->load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) {
        KX_TRACE_ERROR(caller, u"exception list is not XML");
        return false;
    }
    return true;
}

bool ReadDayAttribute(const pugi::xml_node& e, platform::CivilTime* day) {
    int y, mo, d;
    if (std::sscanf(e.attribute("time").value(), "%4d/%2d/%2d", &y, &mo, &d) != 3 ||
        !platform::OleDate::FromCivil(y, mo, d).valid())
        return false;
    *day = platform::CivilTime{y, mo, d, 0, 0, 0, 0};
    return true;
}

std::string SerialiseDocument(const pugi::xml_document& doc) {
    StringWriter w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return w.out;
}

bool FromCalendarException(const CalendarRecord& parent, const std::u16string* exceptionText,
                           Json::Value* rows, const std::u16string& iCalGuid, const std::u16string& parentId,
                           int32_t sdk) {
    if (!exceptionText) {
        KX_TRACE_ERROR(kExceptionCaller, u"no exception list");
        return false;
    }
    pugi::xml_document doc;
    if (!LoadExceptionList(*exceptionText, &doc, kExceptionCaller))
        return false;
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
                // The handset keeps minutes as a number; the host may have written anything.
                SetAlarm(&row, NarrowToNumber(delta.child_value()));
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

} // namespace CalConv
