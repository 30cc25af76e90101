// The texts kxsync prints for records, shared by its commands: dates, JSON lines, values cut for
// a one-line view, and UTF-16 texts as UTF-8.
#pragma once

#include <cstddef>
#include <string>

#include <json/json.h>
#include <kxphone/kxphone.h>
#include <kxphone/ole_date.h>

namespace kxsync {

// "yyyy-mm-dd hh:mm:ss" (rounded to the second); empty when the date is invalid or beyond the
// years a record can mean.
std::string DateText(const platform::OleDate& date);

// One line of compact JSON, non-ASCII as raw UTF-8.
std::string JsonLineText(const Json::Value& value);

// text as it is when it has at most limit bytes; else its longest beginning of whole characters
// within keep bytes, followed by "...".
std::string Shortened(const std::string& text, size_t limit, size_t keep);

// UTF-16 to UTF-8 (invalid units become U+FFFD); a null text is empty.
std::string Utf8(const std::u16string& text);
std::string Utf8(const KXChar* text);

} // namespace kxsync
