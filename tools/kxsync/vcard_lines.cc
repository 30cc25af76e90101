#include "vcard_lines.h"

#include <algorithm>
#include <cctype>

#include "codec_text.h"

namespace kxsync {

namespace {

bool NameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Parameter values: "^n" newline, "^^" caret, "^'" double quote.
std::string CaretDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size() &&
            (text[i + 1] == 'n' || text[i + 1] == '^' || text[i + 1] == '\'')) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1] == '\'' ? '"' : '^';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string CaretEncode(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? "^n" : c == '"' ? "^'" : c == '^' ? "^^" : std::string(1, c);
    return out;
}

bool ParseLine(const std::string& text, ContentLine* line, std::string* what) {
    size_t i = 0;
    auto name = [&] {
        size_t start = i;
        while (i < text.size() && NameChar(text[i]))
            ++i;
        return text.substr(start, i - start);
    };
    line->name = name();
    if (i < text.size() && text[i] == '.') { // a group prefix
        ++i;
        line->name = name();
    }
    if (line->name.empty()) {
        *what = "no property name";
        return false;
    }
    line->name = Upper(line->name);
    while (i < text.size() && text[i] == ';') {
        ++i;
        std::string param = Upper(name());
        if (param.empty() || i >= text.size() || text[i] != '=') {
            *what = "a parameter of " + line->name + " without a name or \"=\"";
            return false;
        }
        std::vector<std::string> values;
        do {
            ++i;
            std::string value;
            if (i < text.size() && text[i] == '"') {
                size_t close = text.find('"', i + 1);
                if (close == std::string::npos) {
                    *what = "an unterminated quoted value of " + param;
                    return false;
                }
                value = text.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                size_t start = i;
                while (i < text.size() && text[i] != ';' && text[i] != ':' && text[i] != ',' &&
                       text[i] != '"')
                    ++i;
                value = text.substr(start, i - start);
            }
            values.push_back(CaretDecode(value));
        } while (i < text.size() && text[i] == ',');
        line->params.emplace_back(param, values);
    }
    if (i >= text.size() || text[i] != ':') {
        *what = "no \":\" after " + line->name + " and its parameters";
        return false;
    }
    line->value = text.substr(i + 1);
    return true;
}

} // namespace

std::vector<std::string> ContentLine::Param(const std::string& wanted) const {
    std::vector<std::string> values;
    for (const auto& p : params)
        if (p.first == wanted)
            values.insert(values.end(), p.second.begin(), p.second.end());
    return values;
}

bool ContentLine::HasParam(const std::string& wanted) const {
    return std::any_of(params.begin(), params.end(), [&](const auto& p) { return p.first == wanted; });
}

bool ReadContentLines(const std::string& text, std::vector<ContentLine>* lines, std::string* error) {
    lines->clear();
    std::vector<std::pair<int, std::string>> logical;
    if (!UnfoldLines(text, &logical, error))
        return false;
    for (const auto& [number, content] : logical) {
        ContentLine line;
        line.line = number;
        std::string what;
        if (!ParseLine(content, &line, &what)) {
            *error = "line " + std::to_string(number) + ": " + what;
            lines->clear();
            return false;
        }
        lines->push_back(std::move(line));
    }
    return true;
}

void WriteContentLine(const std::string& name, const std::vector<std::pair<std::string, std::string>>& params,
                      const std::string& value, std::string* out) {
    std::string line = name;
    for (const auto& p : params) {
        std::string v = CaretEncode(p.second);
        bool quote = v.find_first_of(";:") != std::string::npos; // "," separates list values
        line += ";" + p.first + "=" + (quote ? "\"" + v + "\"" : v);
    }
    line += ":" + value;
    AppendFolded(line, out);
}

void AppendFolded(const std::string& line, std::string* out) {
    // 75 octets on the first line, 74 after the leading space on the others.
    for (size_t pos = 0, room = 75; pos < line.size(); room = 74) {
        size_t take = std::min(room, line.size() - pos);
        while (pos + take < line.size() && take > 1 &&
               (static_cast<unsigned char>(line[pos + take]) & 0xC0) == 0x80)
            --take;
        if (pos)
            *out += ' ';
        out->append(line, pos, take);
        *out += "\r\n";
        pos += take;
    }
}

std::string EscapeText(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\\'   ? "\\\\"
               : c == ','  ? "\\,"
               : c == ';'  ? "\\;"
               : c == '\n' ? "\\n"
                           : std::string(1, c);
    return out;
}

std::string UnescapeText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 'n' || next == 'N' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitEscaped(const std::string& value, char separator) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i++, 2);
        } else if (value[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += value[i];
        }
    }
    return parts;
}

} // namespace kxsync
