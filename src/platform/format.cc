#include "platform/format.h"

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

void AppendPadded(std::u16string* out, const std::u16string& text, int width, bool left) {
    size_t pad = width > 0 && static_cast<size_t>(width) > text.size() ? width - text.size() : 0;
    if (!left)
        out->append(pad, u' ');
    out->append(text);
    if (left)
        out->append(pad, u' ');
}

// A text argument cut to its precision, then padded.
void AppendCut(std::u16string* out, std::u16string text, int precision, int width, bool left) {
    if (precision >= 0 && text.size() > static_cast<size_t>(precision))
        text.resize(precision);
    AppendPadded(out, text, width, left);
}

// printf of one number; any width fits.
template <class T> void AppendNumber(std::u16string* out, const std::string& spec, T value) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof buffer) {
        out->append(buffer, buffer + n);
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&big[0], big.size(), spec.c_str(), value);
    out->append(big.begin(), big.begin() + n);
}

} // namespace

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string Narrow(const std::u16string& ascii) {
    std::string out;
    out.reserve(ascii.size());
    for (char16_t c : ascii)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::u16string FormatV(const char16_t* format, va_list args) {
    std::u16string out;
    if (!format)
        return out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        if (p[1] == u'%') {
            out.push_back(u'%');
            ++p;
            continue;
        }
        // Collect flags, width and precision as narrow text for snprintf.
        std::string spec = "%";
        const char16_t* q = p + 1;
        bool left = false;
        while (*q && std::strchr("-+ #0", static_cast<char>(*q)) && *q < 0x80) {
            if (*q == u'-')
                left = true;
            spec.push_back(static_cast<char>(*q++));
        }
        int width = -1, precision = -1;
        if (*q == u'*') {
            width = va_arg(args, int);
            if (width < 0) {
                left = true;
                width = -width;
            }
            spec += std::to_string(width);
            ++q;
        } else {
            int w = 0;
            bool any = false;
            while (*q >= u'0' && *q <= u'9') {
                w = w * 10 + (*q - u'0');
                spec.push_back(static_cast<char>(*q++));
                any = true;
            }
            if (any)
                width = w;
        }
        if (*q == u'.') {
            spec.push_back('.');
            ++q;
            if (*q == u'*') {
                precision = va_arg(args, int);
                spec += std::to_string(precision);
                ++q;
            } else {
                int pr = 0;
                while (*q >= u'0' && *q <= u'9') {
                    pr = pr * 10 + (*q - u'0');
                    spec.push_back(static_cast<char>(*q++));
                }
                precision = pr;
            }
        }
        int size = 0; // 0 int, 1 long, 2 long long
        if (q[0] == u'I' && q[1] == u'6' && q[2] == u'4') {
            size = 2;
            q += 3;
        } else if (*q == u'l') {
            size = 1;
            ++q;
            if (*q == u'l') {
                size = 2;
                ++q;
            }
        } else if (*q == u'h') {
            ++q;
            if (*q == u'h')
                ++q;
        }
        char16_t conv = *q;
        if (!conv)
            break;
        p = q;
        switch (conv) {
        case u's': {
            const char16_t* s = va_arg(args, const char16_t*);
            AppendCut(&out, s ? std::u16string(s) : std::u16string(u"(null)"), precision, width, left);
            break;
        }
        case u'S': {
            const char* s = va_arg(args, const char*);
            AppendCut(&out, Widen(s ? s : "(null)"), precision, width, left);
            break;
        }
        case u'c': {
            char16_t c = static_cast<char16_t>(va_arg(args, int));
            AppendPadded(&out, std::u16string(1, c), width, left);
            break;
        }
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            spec += size == 2 ? "ll" : size == 1 ? "l" : "";
            spec.push_back(static_cast<char>(conv));
            if (size == 2)
                AppendNumber(&out, spec, va_arg(args, long long));
            else if (size == 1)
                AppendNumber(&out, spec, va_arg(args, long));
            else
                AppendNumber(&out, spec, va_arg(args, int));
            break;
        }
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'e':
        case u'E': {
            spec.push_back(static_cast<char>(conv));
            AppendNumber(&out, spec, va_arg(args, double));
            break;
        }
        case u'p': {
            AppendNumber(&out, "%p", va_arg(args, void*));
            break;
        }
        default: // unknown conversion: keep it as written
            out.push_back(u'%');
            out.push_back(conv);
            break;
        }
    }
    return out;
}

std::u16string Format(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string out = FormatV(format, args);
    va_end(args);
    return out;
}

} // namespace platform
