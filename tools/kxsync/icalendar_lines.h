// Where things stand in an iCalendar text. libical parses leniently and reports what it could not
// take as X-LIC-ERROR properties, without line numbers; this outline of the text (components with
// the line of their BEGIN and of each property, in order) lets the codec name the line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kxsync {

struct IcalOutline {
    std::string name; // upper case; empty for the root, which holds the top-level components
    int begin = 0;    // the BEGIN line
    std::vector<std::pair<int, std::string>> properties; // line, unfolded text
    std::vector<IcalOutline> children;
};

// The outline of text (CRLF or LF lines, folded lines continue with a space or a tab). False with
// *error = "line N: ..." for bytes that are not UTF-8, a line without a name and ":", an END that
// closes no component or another one, a component left open, or a line outside any component.
bool OutlineIcalendar(const std::string& text, IcalOutline* root, std::string* error);

// The line of the n-th property named name (upper case) of a component; its BEGIN line when it
// has fewer.
int PropertyLine(const IcalOutline& component, const std::string& name, int n);

} // namespace kxsync
