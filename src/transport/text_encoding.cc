#include "transport/text_encoding.h"

#include "platform/utf.h"
#include "transport/base64.h"

std::string WideToUtf8(const std::u16string& text) {
    return platform::Utf16ToUtf8(text);
}

std::u16string Utf8ToWide(const char* text, size_t length) {
    return platform::Utf8ToUtf16(text, length);
}

std::u16string Utf8ToWide(const std::string& text) {
    return platform::Utf8ToUtf16(text);
}

std::string WideToUtf8Limited(const std::u16string& text, size_t byteLimit) {
    // Same result as dropping the last code unit and converting again until it fits, without
    // converting again: keep whole code points while they fit.
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char32_t c = platform::NextCodePoint(text.data(), text.size(), &i);
        if (out.size() + platform::Utf8Length(c) > byteLimit)
            break;
        platform::AppendUtf8(&out, c);
    }
    return out;
}

std::string Base64Utf16ToUtf8(const char* text, size_t length) {
    std::string bytes = Base64Decode(text, length);
    std::u16string wide;
    wide.reserve(bytes.size() / 2 + 1);
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

std::string SentText(const std::u16string& data) {
    std::u16string text;
    text.reserve(data.size() < kMaxSentChars ? data.size() : kMaxSentChars);
    bool cut = false;
    for (char16_t c : data) {
        if (c == u'\r')
            continue;
        if (text.size() == kMaxSentChars) {
            cut = true;
            break;
        }
        text.push_back(c);
    }
    if (cut && !text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
        text.pop_back(); // do not send half of a pair
    return WideToUtf8Limited(text, kMaxSentBytes);
}
