#include "platform/text.h"

namespace platform {
namespace {

template <class Char> bool IsBlank(Char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

template <class Char> std::basic_string<Char> TrimOf(std::basic_string_view<Char> text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return std::basic_string<Char>(text.substr(b, e - b));
}

template <class Char> Char Lower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <class Char> bool EqualsNoCaseOf(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

} // namespace

std::string Trim(std::string_view text) {
    return TrimOf(text);
}

std::u16string Trim(std::u16string_view text) {
    return TrimOf(text);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return EqualsNoCaseOf(a, b);
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return EqualsNoCaseOf(a, b);
}

std::u16string HostLines(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + 16);
    for (char16_t c : text) {
        if (c == u'\n')
            out += u'\r';
        out += c;
    }
    return out;
}

} // namespace platform
