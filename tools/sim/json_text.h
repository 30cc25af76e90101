// JSON as text, for everything the simulator reads or writes outside the service envelope's
// fast writer: admin answers, journal lines, the command line, and request bodies.
#pragma once

#include <json/value.h>

#include <string>

namespace kxsim {

// Compact, UTF-8 left as it is.
std::string CompactJson(const Json::Value& v);
// False with *error when text is not JSON.
bool ParseJson(const char* text, size_t length, Json::Value* out, std::string* error);
// False when a text of v (a member name or a string, at any depth) is not valid UTF-8; *where
// (empty on entry) then names the member holding it.
bool ValidText(const Json::Value& v, std::string* where);

// A JSON string of the bytes [b, e) appended to out, as JsonCpp writes it with UTF-8 left as it
// is: only '"', '\\' and the control characters are escaped.
void AppendJsonString(const char* b, const char* e, std::string* out);
inline void AppendJsonString(const std::string& s, std::string* out) {
    AppendJsonString(s.data(), s.data() + s.size(), out);
}

} // namespace kxsim
