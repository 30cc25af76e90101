// One host session with the driver: what every command shares. Commands run on the main thread;
// only Stop comes from the interrupt thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "driver_library.h"
#include "host_window.h"
#include "options.h"

namespace kxsync {

class TraceWatch;

struct Session {
    const Options& options;
    const DriverApi& api;
    HostWindow& window;
    // Data type of the running operation, for Stop.
    std::atomic<int32_t> runningType{0};
    // What the driver's trace lines have said about failures (null when nobody follows them).
    TraceWatch* watch = nullptr;
};

// The host callbacks handed to SetParam count their calls here.
extern std::atomic<uint32_t> g_recordCallbacks;
extern std::atomic<uint32_t> g_progressCallbacks;

// InitDriver, SetParam and InitSync for the handset service at address:port. callbacks: SetParam
// gets the counting callbacks (else none). print: each call and its result is printed (else
// nothing, so that stdout carries only records). False when the driver refused InitSync.
bool OpenSession(Session& session, const std::string& address, int port, bool callbacks, bool print);
// The same with the session's options, with callbacks, printed.
bool OpenSession(Session& session);
// UninitSync, printed when print.
void CloseSession(Session& session, bool print = true);
// OpenSession(session), body, CloseSession(session). 1 when the driver refused InitSync (body
// does not run), else what body returns.
int RunInSession(Session& session, const std::function<int()>& body);

// call (Read or Write of type) as the running operation (Ctrl-C stops it), timed into *seconds.
// Afterwards the window's handler is gone, a progress bar ended and the messages dropped.
int32_t TimedCall(Session& session, int32_t type, const std::function<int32_t()>& call, double* seconds);
// TimedCall of Read(type, 0).
int32_t TimedRead(Session& session, int32_t type, double* seconds);

// Prints the messages received since the last Clear() and clears them.
void PrintMessages(Session& session);

// "0 (success)", "1100 (other failure)", ...
std::string ResultText(int32_t result);

// UTF-8 to UTF-16 (invalid bytes become U+FFFD).
std::u16string Utf16(const std::string& text);

} // namespace kxsync
