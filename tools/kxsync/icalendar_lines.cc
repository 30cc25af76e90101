#include "icalendar_lines.h"

#include <cctype>

#include "codec_text.h"

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
    std::vector<std::pair<int, std::string>> lines;
    if (!UnfoldLines(text, &lines, error))
        return false;
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
