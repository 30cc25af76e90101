#include "calendar/calendar_zone.h"

#include <cstdio>

#include "calendar/calendar_text.h"
#include "platform/text.h"
#include "transport/text_encoding.h"

namespace CalConv {

std::u16string TimeZoneField(const std::string& value) {
    std::string tz = platform::Trim(value);
    if (Upper(tz) == "UTC")
        return u"GMT:0;DST:0";
    size_t semi = tz.find(';');
    // Without ";" the whole text is the daylight part and the offset reads as 0.
    std::string offset = semi == std::string::npos ? std::string() : tz.substr(0, semi);
    std::string daylight = semi == std::string::npos ? tz : tz.substr(semi + 1);
    int64_t bias = -static_cast<int64_t>(NarrowToNumber(offset));
    std::string text = "GMT:";
    if (bias >= 0)
        text += '+';
    text += std::to_string(bias) + ";DST:" + daylight;
    return platform::HostLines(Utf8ToWide(text));
}

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
    std::string value = std::to_string(-static_cast<int64_t>(NarrowToNumber(parts[0])));
    value += ";" + parts[1];
    for (int i = 2; i < 4; ++i) {
        char yearText[16];
        std::snprintf(yearText, sizeof yearText, "%04d", year);
        std::string rule = yearText + (parts[i].size() > 4 ? parts[i].substr(4) : std::string());
        value += ";" + platform::Narrow(TransitionToDate(platform::Widen(rule)));
    }
    return value;
}

} // namespace CalConv
