#include "icalendar_lines.h"

#include <cctype>

#include "platform/utf.h"

namespace kxsync {

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool OutlineIcalendar(const std::string& text, IcalOutline* root, std::string* error) {
    *root = IcalOutline();
    std::vector<IcalOutline*> open{root};
    auto fail = [&](int line, const std::string& what) {
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    // Logical lines: their first physical line and their text.
    std::vector<std::pair<int, std::string>> lines;
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end;
        std::string physical = text.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        if (!physical.empty() && physical.back() == '\r')
            physical.pop_back();
        if (!platform::IsValidUtf8(physical.data(), physical.size()) ||
            physical.find_first_of(std::string("\r\0", 2)) != std::string::npos)
            return fail(number, "not UTF-8 text");
        if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && !lines.empty())
            lines.back().second += physical.substr(1);
        else if (!physical.empty())
            lines.emplace_back(number, physical);
    }
    for (const auto& [line, content] : lines) {
        size_t colon = content.find(':');
        size_t nameEnd = content.find_first_of(";:");
        if (colon == std::string::npos || nameEnd == 0)
            return fail(line, "not a property (\"NAME:value\")");
        std::string name = Upper(content.substr(0, nameEnd));
        std::string value = Upper(content.substr(colon + 1));
        if (name == "BEGIN") {
            IcalOutline child;
            child.name = value;
            child.begin = line;
            open.back()->children.push_back(child);
            open.push_back(&open.back()->children.back());
        } else if (name == "END") {
            if (open.size() == 1 || open.back()->name != value)
                return fail(line, "END:" + value +
                                      (open.size() == 1 ? " closes no component"
                                                        : " where " + open.back()->name + " of line " +
                                                              std::to_string(open.back()->begin) + " ends"));
            open.pop_back();
        } else if (open.size() == 1) {
            return fail(line, name + " outside any component");
        } else {
            open.back()->properties.emplace_back(line, content);
        }
    }
    if (open.size() > 1)
        return fail(open.back()->begin, "BEGIN:" + open.back()->name + " without END");
    return true;
}

int PropertyLine(const IcalOutline& component, const std::string& name, int n) {
    for (const auto& [line, content] : component.properties)
        if (Upper(content.substr(0, content.find_first_of(";:"))) == name && n-- == 0)
            return line;
    return component.begin;
}

} // namespace kxsync
