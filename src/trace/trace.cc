#include "trace/trace.h"

#include <tracesink.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "platform/format.h"

namespace kxtrace {

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void Output(const std::u16string& line) {
    OutputString(u"vexoCorsaT3", 2, line.c_str());
}

namespace {

// A %s argument of the line: the text up to its first NUL.
void AppendText(std::u16string* out, const char16_t* text) {
    if (!text)
        text = u"(null)";
    out->append(text, std::char_traits<char16_t>::length(text));
}

void AppendNarrow(std::u16string* out, const char* text, int length) {
    for (int i = 0; i < length; ++i)
        out->push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
}

// printf's "%0<width>d" (width 0: "%d") of a number from 0 to 99999999, which is what the clock
// and the line numbers give; anything else goes through printf itself.
void AppendNumber(std::u16string* out, long long value, int width) {
    if (value < 0 || value > 99999999) {
        char buffer[32];
        AppendNarrow(out, buffer, std::snprintf(buffer, sizeof buffer, "%0*lld", width, value));
        return;
    }
    char16_t digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int pad = width - n; pad > 0; --pad)
        out->push_back(u'0');
    while (n > 0)
        out->push_back(digits[--n]);
}

} // namespace

// The line of
//   Format(u"[TID=%u][Tag=%s],[Module=%s],[Caller=%s],[Action=%s],[Function=%s],[Time=%04d-%02d-%02d "
//          u"%02d:%02d:%02d %03d],[File=%S],[Line=%d]:\r\n", ...)
// put together piece by piece: a line per record is traced, and the general formatter costs more
// than the rest of the record's conversion. The numbers are written as printf writes them.
void Trace(const char16_t* tag, const char16_t* caller, const char16_t* action,
           const std::u16string& function, const char* file, int line) {
    platform::Env* env = platform::Env::Current();
    platform::CivilTime now = env->UtcNow();
    std::u16string text;
    text.reserve(192 + function.size());
    text.append(u"[TID=");
    AppendNumber(&text, env->ThreadId(), 0);
    text.append(u"][Tag=");
    AppendText(&text, tag);
    text.append(u"],[Module=vexoCorsaT3.dll],[Caller=");
    AppendText(&text, caller);
    text.append(u"],[Action=");
    AppendText(&text, action);
    text.append(u"],[Function=");
    AppendText(&text, function.c_str());
    text.append(u"],[Time=");
    AppendNumber(&text, now.year, 4);
    text.push_back(u'-');
    AppendNumber(&text, now.month, 2);
    text.push_back(u'-');
    AppendNumber(&text, now.day, 2);
    text.push_back(u' ');
    AppendNumber(&text, now.hour, 2);
    text.push_back(u':');
    AppendNumber(&text, now.minute, 2);
    text.push_back(u':');
    AppendNumber(&text, now.second, 2);
    text.push_back(u' ');
    AppendNumber(&text, now.millisecond, 3);
    text.append(u"],[File=");
    text.append(platform::Widen(BaseName(file)));
    text.append(u"],[Line=");
    AppendNumber(&text, line, 0);
    text.append(u"]:\r\n");
    Output(text);
}

void ErrorLine(const char* file, int line, const char16_t* function) {
    ErrorLine(file, line, function, platform::Env::Current()->LastError());
}

void ErrorLine(const char* file, int line, const char16_t* function, int error) {
    Output(platform::Format(u"%S(%d) : Function = %s GetLastError = %d\r\n", BaseName(file), line, function,
                            error));
}

void DebugPrint(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string text = platform::FormatV(format, args);
    va_end(args);
    Output(platform::Format(u"Orlen vexoCorsaT3.dll-%s", text.c_str()));
}

} // namespace kxtrace
