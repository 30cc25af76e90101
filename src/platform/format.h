// printf-style formatting into UTF-16 text. "%s" takes a const char16_t*; every other
// conversion (d i u x X c f g e, with flags, width, precision and the h l ll I64 sizes) works as
// in printf. "%S" takes a narrow (UTF-8/ASCII) const char*.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

std::u16string Format(const char16_t* format, ...);
std::u16string FormatV(const char16_t* format, va_list args);

// ASCII-only helpers for fixed texts and numbers.
std::u16string Widen(const std::string& ascii);
std::string Narrow(const std::u16string& ascii);

} // namespace platform
