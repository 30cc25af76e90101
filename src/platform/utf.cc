#include "platform/utf.h"

#include <cstdint>
#include <cstring>

namespace platform {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
} // namespace

char32_t NextCodePoint(const char16_t* s, size_t n, size_t* i) {
    char32_t c = s[(*i)++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (*i < n && s[*i] >= 0xDC00 && s[*i] <= 0xDFFF)
            return 0x10000 + ((c - 0xD800) << 10) + (s[(*i)++] - 0xDC00);
        return kReplacement;
    }
    return c >= 0xDC00 && c <= 0xDFFF ? kReplacement : c;
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

void AppendUtf16AsUtf8(std::string* out, const char16_t* s, size_t n) {
    if (!s)
        return;
    out->reserve(out->size() + n + n / 2);
    for (size_t i = 0; i < n && s[i];) {
        if (s[i] < 0x80) {
            out->push_back(static_cast<char>(s[i++]));
            continue;
        }
        AppendUtf8(out, NextCodePoint(s, n, &i));
    }
}

std::string Utf16ToUtf8(const char16_t* s, size_t n) {
    std::string out;
    AppendUtf16AsUtf8(&out, s, n);
    return out;
}

namespace {

// Length of the valid sequence at p[i], 0 when there is none.
size_t ValidSequence(const unsigned char* p, size_t n, size_t i) {
    unsigned char b = p[i];
    if (b < 0x80)
        return 1;
    size_t need;
    char32_t c, min;
    if (b >= 0xC2 && b <= 0xDF)
        c = b & 0x1F, need = 1, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF)
        c = b & 0x0F, need = 2, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4)
        c = b & 0x07, need = 3, min = 0x10000;
    else
        return 0;
    if (n - i <= need)
        return 0;
    for (size_t j = 1; j <= need; ++j) {
        if ((p[i + j] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i + j] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return need + 1;
}

} // namespace

bool IsValidUtf8(const char* text, size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            // ASCII runs eight bytes at a time.
            for (++i; i + 8 <= n; i += 8) {
                uint64_t word;
                std::memcpy(&word, p + i, 8);
                if (word & 0x8080808080808080ull)
                    break;
            }
            continue;
        }
        size_t k = ValidSequence(p, n, i);
        if (k == 0)
            return false;
        i += k;
    }
    return true;
}

std::u16string Utf8ToUtf16(const char* text, size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    std::u16string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        char32_t c, min;
        size_t need;
        if (b < 0x80) {
            // An ASCII run appended whole.
            size_t end = i + 1;
            while (end < n && p[end] < 0x80)
                ++end;
            out.append(p + i, p + end);
            i = end;
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
        i += j;
        if (j <= need || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(kReplacement); // one replacement for the bad or truncated sequence
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

} // namespace platform
