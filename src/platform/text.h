// Small text helpers every layer shares. ASCII rules only: the handset's keywords, account and
// program names are ASCII, and folding anything else would change what the user wrote.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Without leading and trailing blanks (space, tab, CR, LF, VT, FF).
std::string Trim(std::string_view text);
std::u16string Trim(std::u16string_view text);

// Equal when ASCII letters are folded to lower case.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Host texts break lines with CR LF, the handset with LF: every LF gets a CR before it.
std::u16string HostLines(std::u16string_view text);

} // namespace platform
