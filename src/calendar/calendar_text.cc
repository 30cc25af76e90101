#include "calendar/calendar_text.h"

#include <cstdio>
#include <cstring>

#include <json/value.h>

namespace CalConv {

std::string RowText(const Json::Value& row, const char* key) {
    if (!row.isObject())
        return std::string();
    const Json::Value* v = row.find(key, key + std::strlen(key));
    if (!v || !(v->isString() || v->isNumeric() || v->isBool()))
        return std::string();
    return v->asString();
}

std::string RowText(const fastjson::Value& row, const char* key) {
    const char *b, *e;
    if (!row.member(key).scalarText(&b, &e))
        return std::string();
    return std::string(b, e);
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
    MillisTextToDate(platform::Widen(text), allDay, &date);
    return date;
}

std::string Millis(const platform::OleDate& date, bool allDay) {
    return platform::Narrow(DateToMillisText(date, allDay));
}

void SetAlarm(Json::Value* row, int32_t minutes) {
    Json::Value alarm(Json::objectValue);
    alarm["method"] = "1";
    alarm["minutes"] = NarrowNumber(minutes);
    Json::Value alarms(Json::arrayValue);
    alarms.append(alarm);
    (*row)["__data"] = alarms;
    (*row)["hasAlarm"] = "1";
}

platform::CivilTime CivilOf(const platform::OleDate& date) {
    platform::CivilTime c;
    if (!IsUsableDate(date) || !date.ToCivil(&c))
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

std::string DayText(const platform::CivilTime& c) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", c.year, c.month, c.day);
    return text;
}

std::string UtcStampText(const platform::CivilTime& c) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return text;
}

} // namespace CalConv
