// UTF-16 <-> UTF-8 as the wire needs them. Invalid input never fails a conversion: a lone
// surrogate or an invalid UTF-8 sequence becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>

std::string WideToUtf8(const std::u16string& text);
std::u16string Utf8ToWide(const std::string& text);
std::u16string Utf8ToWide(const char* text, size_t length);

// At most byteLimit bytes, ending on a whole source character.
std::string WideToUtf8Limited(const std::u16string& text, size_t byteLimit);

// Longest text sent to the handset for one value: characters (UTF-16 units) and UTF-8 bytes.
constexpr size_t kMaxSentChars = 5120;
constexpr size_t kMaxSentBytes = 5120;
// A host text as sent: without "\r", at most kMaxSentChars characters and kMaxSentBytes UTF-8
// bytes, cut between whole characters.
std::string SentText(const std::u16string& text);

// Base64 text whose bytes are UTF-16LE text (up to its first NUL unit), as UTF-8.
std::string Base64Utf16ToUtf8(const char* text, size_t length);
