#include "codec_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/oledate.h"
#include "platform/utf.h"
#include "sync/time_conversions.h"

namespace kxsync {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

} // namespace

std::string Base64(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            n |= static_cast<uint8_t>(bytes[i + 2]);
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

bool FromBase64(const std::string& text, std::string* bytes) {
    bytes->clear();
    if (text.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            char c = text[i + k];
            const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
            // "=" only at the end: "x===" is never valid, "xx==" and "xxx=" are.
            if (c == '=' && i + 4 == text.size() && k >= 2 && (k == 3 || text[i + 3] == '='))
                ++pad;
            else if (!at || pad)
                return false;
            n = n << 6 | (at ? static_cast<uint32_t>(at - kAlphabet) : 0);
        }
        bytes->push_back(static_cast<char>(n >> 16));
        if (pad < 2)
            bytes->push_back(static_cast<char>(n >> 8));
        if (pad < 1)
            bytes->push_back(static_cast<char>(n));
    }
    return true;
}

std::string ExactText(const std::u16string& text) {
    std::string utf8 = platform::Utf16ToUtf8(text), out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        // A blank at either end too: libical drops those of every value.
        if (c == '%' || c == '\\' || c == ';' || c == ',' || static_cast<unsigned char>(c) < 0x20 ||
            c == 0x7F || (c == ' ' && (i == 0 || i + 1 == utf8.size()))) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string FromExactText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        // Not NUL: a record's text ends there.
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0 && HexValue(text[i + 1]) + HexValue(text[i + 2]) > 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return platform::Utf8ToUtf16(out);
}

std::string LineText(const std::u16string& text) {
    std::string utf8 = platform::Utf16ToUtf8(text), out;
    for (size_t i = 0; i < utf8.size(); ++i)
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n'))
            out += utf8[i];
    return out;
}

std::u16string FromLineText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return platform::Utf8ToUtf16(out);
}

bool IsLineText(const std::u16string& text) {
    std::string line = LineText(text);
    for (char c : line)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
            return false;
    return FromLineText(line) == text;
}

std::string ExactDate(const platform::OleDate& date) {
    char text[48];
    std::snprintf(text, sizeof text, "%d:%.17g", static_cast<int>(date.status), date.days);
    return text;
}

bool FromExactDate(const std::string& text, platform::OleDate* date) {
    size_t colon = text.find(':');
    int32_t status;
    if (colon == std::string::npos || !ParseInt(text.substr(0, colon), &status) || colon + 1 == text.size())
        return false;
    const char* begin = text.c_str() + colon + 1;
    char* end = nullptr;
    errno = 0;
    double days = std::strtod(begin, &end);
    // Within the years a date can mean (100..9999): the date code computes with whole seconds.
    static const double first = platform::OleDate::FromCivil(100, 1, 1).days;
    static const double last = platform::OleDate::FromCivil(9999, 12, 31, 23, 59, 59).days;
    if (errno || *end || *begin == ' ' || !(days >= first && days <= last) || status < 0 ||
        status > platform::OleDate::kNull)
        return false;
    date->days = days;
    date->status = status;
    return true;
}

std::string CivilText(const platform::OleDate& date, bool dateOnly, bool utc) {
    platform::CivilTime c;
    if (!(utc && !dateOnly ? CalConv::LocalToUtc(date) : date).ToCivil(&c) || c.year < 1000)
        return "";
    char text[32];
    if (dateOnly)
        std::snprintf(text, sizeof text, "%04d%02d%02d", c.year, c.month, c.day);
    else
        std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d%s", c.year, c.month, c.day, c.hour,
                      c.minute, c.second, utc ? "Z" : "");
    return text;
}

bool FromCivilText(const std::string& text, platform::OleDate* date) {
    int y, mo, d, h = 0, mi = 0, s = 0, used = 0;
    bool utc = false;
    if (text.size() == 10 && std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 &&
        used == 10) {
    } else if (text.size() == 8 && std::sscanf(text.c_str(), "%4d%2d%2d%n", &y, &mo, &d, &used) == 3 &&
               used == 8) {
    } else if ((text.size() == 15 || (text.size() == 16 && text[15] == 'Z')) && text[8] == 'T' &&
               std::sscanf(text.c_str(), "%4d%2d%2dT%2d%2d%2d%n", &y, &mo, &d, &h, &mi, &s, &used) == 6 &&
               used == 15) {
        utc = text.size() == 16;
    } else {
        return false;
    }
    for (char c : text)
        if (c == '+' || c == ' ')
            return false;
    platform::OleDate made = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
    if (!made.valid())
        return false;
    *date = utc ? CalConv::UtcToLocal(made) : made;
    return true;
}

bool ParseInt(const std::string& text, int32_t* value) {
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || n < INT32_MIN || n > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(n);
    return true;
}

bool UnfoldLines(const std::string& text, std::vector<std::pair<int, std::string>>* lines,
                 std::string* error) {
    lines->clear();
    bool continuable = false;
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = std::min(text.find('\n', pos), text.size());
        std::string physical = text.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        if (!physical.empty() && physical.back() == '\r')
            physical.pop_back();
        if (!platform::IsValidUtf8(physical.data(), physical.size()) ||
            physical.find_first_of(std::string("\r\0", 2)) != std::string::npos) {
            *error = "line " + std::to_string(number) + ": not UTF-8 text";
            lines->clear();
            return false;
        }
        if (continuable && !physical.empty() && (physical[0] == ' ' || physical[0] == '\t'))
            lines->back().second += physical.substr(1);
        else if (!physical.empty())
            lines->emplace_back(number, physical);
        continuable = !physical.empty();
    }
    return true;
}

} // namespace kxsync
