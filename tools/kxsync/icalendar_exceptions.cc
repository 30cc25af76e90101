#include "icalendar_exceptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <pugixml.hpp>

#include "codec_text.h"
#include "platform/oledate.h"
#include "platform/utf.h"

namespace kxsync {

namespace {

platform::OleDate Invalid() {
    platform::OleDate date;
    date.status = platform::OleDate::kInvalid;
    return date;
}

// "yyyy/mm/dd hh:mm:ss", or the day alone.
std::string SlashText(const platform::OleDate& date, bool withTime) {
    platform::CivilTime c;
    if (!date.ToCivil(&c))
        return "";
    char text[32];
    if (withTime)
        std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                      c.minute, c.second);
    else
        std::snprintf(text, sizeof text, "%04d/%02d/%02d", c.year, c.month, c.day);
    return text;
}

platform::OleDate FromSlashText(const std::string& text, bool withTime) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    bool read = withTime ? text.size() == 19 && std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d", &y, &mo,
                                                            &d, &h, &mi, &s) == 6
                         : std::sscanf(text.c_str(), "%4d/%2d/%2d", &y, &mo, &d) == 3;
    return read ? platform::OleDate::FromCivil(y, mo, d, h, mi, s) : Invalid();
}

// The list's texts: base64 of their UTF-16LE units.
std::string Utf16LeBase64(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return Base64(bytes);
}

std::u16string FromUtf16LeBase64(const std::string& text) {
    std::string clean, bytes;
    for (char c : text)
        if (c != '\r' && c != '\n' && c != ' ')
            clean += c;
    std::u16string out;
    if (FromBase64(clean, &bytes))
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1])
                                                                              << 8);
    return out;
}

const char* const kTextElements[] = {"subject", "location", "body"};

} // namespace

void ReadExceptionList(const std::u16string& text, std::vector<platform::OleDate>* deletions,
                       std::vector<Modification>* modifications) {
    pugi::xml_document doc;
    std::string utf8 = platform::Utf16ToUtf8(text);
    if (!doc.load_buffer(utf8.data(), utf8.size()))
        return;
    for (pugi::xml_node e : doc.child("exception").children()) {
        if (std::string(e.name()) == "deletion") {
            if (platform::OleDate day = FromSlashText(e.attribute("time").value(), false); day.valid())
                deletions->push_back(day);
            continue;
        }
        Modification m;
        m.instance = FromSlashText(e.attribute("datetime").value(), true);
        if (std::string(e.name()) != "modification" || !m.instance.valid())
            continue;
        std::u16string* texts[] = {&m.subject, &m.location, &m.body};
        for (size_t i = 0; i < 3; ++i)
            *texts[i] = FromUtf16LeBase64(e.child_value(kTextElements[i]));
        m.allDay = std::atoi(e.child_value("allday")) != 0;
        m.start = FromSlashText(e.child_value("start"), true);
        m.end = FromSlashText(e.child_value("end"), true);
        if (std::atoi(e.child_value("reminderset")) && e.child("reminderdelta"))
            m.reminderMinutes = std::atoi(e.child_value("reminderdelta"));
        modifications->push_back(m);
    }
}

std::u16string ExceptionListText(const std::vector<Modification>& modifications,
                                 const std::vector<platform::OleDate>& deletions) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("exception");
    std::vector<std::string> replaced;
    for (const Modification& m : modifications) {
        pugi::xml_node e = root.append_child("modification");
        e.append_attribute("datetime") = SlashText(m.instance, true).c_str();
        e.append_attribute("time") = SlashText(m.instance, false).c_str();
        replaced.push_back(SlashText(m.instance, false));
        const std::u16string* texts[] = {&m.subject, &m.location, &m.body};
        for (size_t i = 0; i < 3; ++i)
            if (!texts[i]->empty())
                e.append_child(kTextElements[i]).text() = Utf16LeBase64(*texts[i]).c_str();
        e.append_child("allday").text() = m.allDay ? "1" : "0";
        if (m.start.valid())
            e.append_child("start").text() = SlashText(m.start, true).c_str();
        if (m.end.valid())
            e.append_child("end").text() = SlashText(m.end, true).c_str();
        e.append_child("reminderset").text() = m.reminderMinutes != -1 ? "1" : "0";
        if (m.reminderMinutes != -1)
            e.append_child("reminderdelta").text() = std::to_string(m.reminderMinutes).c_str();
    }
    for (const platform::OleDate& day : deletions)
        if (std::find(replaced.begin(), replaced.end(), SlashText(day, false)) == replaced.end())
            root.append_child("deletion").append_attribute("time") = SlashText(day, false).c_str();
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return platform::Utf8ToUtf16(out.str());
}

} // namespace kxsync
