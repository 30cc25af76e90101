// vCard content lines: the text form of one property with its group, parameters and value,
// unfolded on input and folded on output, and the escaping of text values.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kxsync {

struct ContentLine {
    int line = 0;     // where it starts in the file, from 1
    std::string name; // upper case, without the group prefix
    std::vector<std::pair<std::string, std::vector<std::string>>> params; // names upper case
    std::string value;                                                    // as written (escapes left in)

    // The values of a parameter, all occurrences together (empty when absent).
    std::vector<std::string> Param(const std::string& name) const;
    bool HasParam(const std::string& name) const;
};

// The unfolded lines of text (CRLF or LF; a line starting with a space or a tab continues the one
// before), parsed. False with *error = "line N: ..." on a line that is not a content line or on
// bytes that are not UTF-8. Empty lines are skipped.
bool ReadContentLines(const std::string& text, std::vector<ContentLine>* lines, std::string* error);

// Appends one property: name, parameters (values quoted when they hold ";" or ":"; a ","
// separates the values of a list) and value, folded so
// that no line exceeds 75 octets, never inside a UTF-8 sequence, and ended by CRLF.
void WriteContentLine(const std::string& name, const std::vector<std::pair<std::string, std::string>>& params,
                      const std::string& value, std::string* out);

// Appends one unfolded line, folded the same way and ended by CRLF.
void AppendFolded(const std::string& line, std::string* out);

// Text value escaping: "\", ",", ";" and LF.
std::string EscapeText(const std::string& text);
std::string UnescapeText(const std::string& text);
// A value split at the unescaped separator (";" between components, "," between list items),
// each part still escaped.
std::vector<std::string> SplitEscaped(const std::string& value, char separator);

} // namespace kxsync
