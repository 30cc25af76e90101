// UTF-16 <-> UTF-8 for every part of the product (driver, its sibling libraries, kxsync).
// Invalid input never fails: a lone surrogate or a bad UTF-8 sequence becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>

#include <kxphone/kxphone.h>

namespace platform {

// The code point at s[*i] (of n units); *i moves past it.
char32_t NextCodePoint(const char16_t* s, size_t n, size_t* i);
inline size_t Utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}
void AppendUtf8(std::string* out, char32_t c);

// The first n units of s, or fewer when a NUL comes first.
std::string Utf16ToUtf8(const char16_t* s, size_t n);
void AppendUtf16AsUtf8(std::string* out, const char16_t* s, size_t n);
inline std::string Utf16ToUtf8(const std::u16string& s) {
    return Utf16ToUtf8(s.data(), s.size());
}
std::u16string Utf8ToUtf16(const char* s, size_t n);
// True when s[0, n) is UTF-8 that Utf8ToUtf16 takes without a replacement.
bool IsValidUtf8(const char* s, size_t n);
inline std::u16string Utf8ToUtf16(const std::string& s) {
    return Utf8ToUtf16(s.data(), s.size());
}

// Text crossing the interface is the same UTF-16 units as the driver's own text; only the C++
// type differs on Windows (wchar_t). A null text is empty.
inline std::u16string FromHostText(const KXChar* text) {
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

} // namespace platform
