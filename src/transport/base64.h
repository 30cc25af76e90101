// The service's base64: standard alphabet, "=" padding, CR LF after every 76 characters of
// complete groups; a lenient decoder that skips anything outside the alphabet.
#pragma once

#include <cstddef>
#include <string>

std::string Base64Encode(const void* data, size_t length);
std::string Base64Decode(const char* text, size_t length);
// The same decoding into out, which has room for Base64DecodedBound(length) bytes; returns the
// number of bytes written.
inline size_t Base64DecodedBound(size_t length) {
    return length / 4 * 3 + 2;
}
size_t Base64DecodeTo(const char* text, size_t length, char* out);
