#include "transport/text_encoding.h"

#include <cstdint>

#include "transport/base64.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point starting at text[i]; advances i past it.
char32_t NextCodePoint(const std::u16string& text, size_t* i) {
    char32_t c = text[(*i)++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (*i < text.size() && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF)
            return 0x10000 + ((c - 0xD800) << 10) + (text[(*i)++] - 0xDC00);
        return kReplacement;
    }
    return c >= 0xDC00 && c <= 0xDFFF ? kReplacement : c;
}

size_t Utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

void AppendUtf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::string WideToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size() * 3 / 2 + 4);
    for (size_t i = 0; i < text.size();)
        AppendUtf8(&out, NextCodePoint(text, &i));
    return out;
}

std::u16string Utf8ToWide(const char* s, size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    std::u16string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        char32_t c;
        size_t need;
        char32_t min;
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F, need = 1, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F, need = 2, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07, need = 3, min = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= need && i + j < n && (p[i + j] & 0xC0) == 0x80; ++j)
            c = (c << 6) | (p[i + j] & 0x3F);
        if (j <= need || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // Invalid or truncated: one replacement for the maximal bad prefix.
            out.push_back(kReplacement);
            i += j;
            continue;
        }
        i += j;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::u16string Utf8ToWide(const std::string& text) {
    return Utf8ToWide(text.data(), text.size());
}

std::string WideToUtf8Limited(const std::u16string& text, size_t byteLimit) {
    // Same result as dropping the last code unit and converting again until it fits, without
    // converting again: keep whole code points while they fit.
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char32_t c = NextCodePoint(text, &i);
        if (out.size() + Utf8Length(c) > byteLimit)
            break;
        AppendUtf8(&out, c);
    }
    return out;
}

std::string Base64Utf16ToUtf8(const char* text, size_t length) {
    std::string bytes = Base64Decode(text, length);
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    // The decoded bytes sit in a zeroed buffer: an odd last byte is a unit of its own.
    for (size_t i = 0; i < bytes.size(); i += 2) {
        unsigned high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (high << 8));
        if (unit == 0)
            break;
        wide.push_back(unit);
    }
    return WideToUtf8(wide);
}
