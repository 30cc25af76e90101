// The service's base64: standard alphabet, "=" padding, CR LF after every 76 characters of
// complete groups; a lenient decoder that skips anything outside the alphabet.
#pragma once

#include <cstddef>
#include <string>

std::string Base64Encode(const void* data, size_t length);
std::string Base64Decode(const char* text, size_t length);
