#include "trace/trace.h"

#include <tracesink.h>

#include <cstdarg>
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

void Trace(const char16_t* tag, const char16_t* caller, const char16_t* action,
           const std::u16string& function, const char* file, int line) {
    platform::Env* env = platform::Env::Current();
    platform::CivilTime now = env->UtcNow();
    std::u16string text = platform::Format(
        u"[TID=%u][Tag=%s],[Module=%s],[Caller=%s],[Action=%s],[Function=%s],[Time=%04d-%02d-%02d "
        u"%02d:%02d:%02d %03d],[File=%S],[Line=%d]:",
        env->ThreadId(), tag, u"vexoCorsaT3.dll", caller, action, function.c_str(), now.year, now.month,
        now.day, now.hour, now.minute, now.second, now.millisecond, BaseName(file), line);
    text += u"\r\n";
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
