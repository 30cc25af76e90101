// The driver's three kinds of trace line, all handed to TraceSink with tag "vexoCorsaT3" and
// level 2. Safe from any thread.
#pragma once

#include <string>

namespace kxtrace {

// "[TID=..][Tag=..],[Module=vexoCorsaT3.dll],[Caller=..],[Action=..],[Function=..],[Time=..],
//  [File=..],[Line=..]:\r\n" with the UTC time of the call.
void Trace(const char16_t* tag, const char16_t* caller, const char16_t* action,
           const std::u16string& function, const char* file, int line);

// "%s(%d) : Function = %s GetLastError = %d\r\n" with the last system error of this thread.
void ErrorLine(const char* file, int line, const char16_t* function);
// The same with an error noted earlier (later calls may have changed the last one).
void ErrorLine(const char* file, int line, const char16_t* function, int error);

// "Orlen vexoCorsaT3.dll-%s" of the printf-style text.
void DebugPrint(const char16_t* format, ...);

// Hands a finished line to TraceSink.
void Output(const std::u16string& line);

// The base name of a source path, as the File field shows it.
const char* BaseName(const char* path);

} // namespace kxtrace

// Call lines around a call to another operation.
#define KX_TRACE_ENTER(caller, function)                                                                     \
    kxtrace::Trace(u"Call", caller, u"Enter", function, __FILE__, __LINE__)
#define KX_TRACE_LEAVE(caller, function)                                                                     \
    kxtrace::Trace(u"Call", caller, u"Leave", function, __FILE__, __LINE__)
// Event and fault lines; the message travels in the Function field.
#define KX_TRACE_INFO(caller, message) kxtrace::Trace(u"Debug", caller, u"Info", message, __FILE__, __LINE__)
#define KX_TRACE_ERROR(caller, message)                                                                      \
    kxtrace::Trace(u"Debug", caller, u"Error", message, __FILE__, __LINE__)
#define KX_ERROR_LINE(function) kxtrace::ErrorLine(__FILE__, __LINE__, function)
#define KX_ERROR_LINE_WITH(function, error) kxtrace::ErrorLine(__FILE__, __LINE__, function, error)
