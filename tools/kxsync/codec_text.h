// What the vCard and iCalendar codecs share: base64 for pictures and raw bytes, the exact text
// form of the X-KX- properties, line breaks, and dates as civil text or as exact day counts.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <kxphone/ole_date.h>

namespace kxsync {

// Standard base64 on one line; the decoder takes only that (padding required, no blanks).
std::string Base64(const std::string& bytes);
bool FromBase64(const std::string& text, std::string* bytes);

// A record text as UTF-8 with "%", "\", ";", ",", control characters and a space at either end
// written %XX: a value that needs no escaping in either format and comes back unit for unit (what
// no standard property can carry).
std::string ExactText(const std::u16string& text);
std::u16string FromExactText(const std::string& text);

// The records' "\r\n" line breaks as the formats' LF, and back. Texts with a lone CR or LF do not
// come back unchanged: the codecs check and fall back to ExactText.
std::string LineText(const std::u16string& text);
std::u16string FromLineText(const std::string& text);
// True when text comes back from LineText unchanged and holds no control character but its line
// breaks: what a standard text property can carry.
bool IsLineText(const std::u16string& text);

// A date exactly: its status and day count ("0:45234.5"); false when the text is not that or the
// day count lies outside the years 100..9999.
std::string ExactDate(const platform::OleDate& date);
bool FromExactDate(const std::string& text, platform::OleDate* date);

// "yyyymmdd" or "yyyymmddThhmmss" of a valid date (rounded to the second), "Z" added after
// converting local time to UTC when utc; "" for an invalid date. The reader takes the same forms
// (and "yyyy-mm-dd"), converting a "Z" time to local time; false for anything else.
std::string CivilText(const platform::OleDate& date, bool dateOnly, bool utc);
bool FromCivilText(const std::string& text, platform::OleDate* date);

// The logical lines of a file of content lines, each with the number of its first physical line:
// physical lines end at LF (a CR before it dropped), a line starting with a space or tab continues
// the one before it, and an empty line ends one. False with *error "line N: not UTF-8 text" for a
// line that is not UTF-8 or holds a CR or NUL.
bool UnfoldLines(const std::string& text, std::vector<std::pair<int, std::string>>* lines,
                 std::string* error);

// A decimal int32 and nothing else.
bool ParseInt(const std::string& text, int32_t* value);

} // namespace kxsync
