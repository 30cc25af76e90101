#include "calendar/calendar_exdate.h"

#include <cstdio>
#include <cstring>

#include "calendar/calendar_exceptions.h"
#include "calendar/calendar_text.h"
#include "platform/format.h"
#include "trace/trace.h"

namespace {

const char16_t kToCaller[] = u"kxconv::ToCalendarEx";
const char16_t kFromCaller[] = u"CalConv::FromCalendarEx";

// "yyyymmdd": how removed instances of all-day events may be written.
bool IsDateOnly(const std::string& part) {
    if (part.size() != 8)
        return false;
    for (char c : part)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

namespace CalConv {

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
            instant = InvalidDate();
        if (!instant.valid()) {
            KX_TRACE_ERROR(kToCaller, platform::Format(u"exdate not a UTC instant: %S", part.c_str()));
            continue;
        }
        if (!record.bAllDay)
            instant = UtcToLocal(instant);
        if (exdates)
            exdates->push_back(CalendarExdate{record.lPhoneId, InstantText(instant)});
    }
}

std::string ExdateValue(const std::u16string& field, const CalendarRecord& record) {
    pugi::xml_document doc;
    if (!LoadExceptionList(field, &doc, kFromCaller))
        return std::string();
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
                instant = LocalToUtc(instant);
            if (!value.empty())
                value += ',';
            value += UtcStampText(CivilOf(instant));
        }
    }
    return value;
}

} // namespace CalConv
