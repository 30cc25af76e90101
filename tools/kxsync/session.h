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
class TraceFollower;

struct Session {
    const Options& options;
    const DriverApi& api;
    HostWindow& window;
    // Data type of the running operation, for Stop.
    std::atomic<int32_t> runningType{0};
    // What the driver's trace lines have said about failures (null when nobody follows them).
    TraceWatch* watch = nullptr;
    TraceFollower* trace = nullptr; // what feeds the watch (null with it)
};

// The host callbacks handed to SetParam count their calls here.
extern std::atomic<uint32_t> g_recordCallbacks;
extern std::atomic<uint32_t> g_progressCallbacks;

// InitDriver, SetParam and InitSync for the handset service at address:port. callbacks: SetParam
// gets the counting callbacks (else none). print: each call and its result is printed on stdout;
// else on stderr with --verbose, so that stdout carries only records. False when the driver
// refused InitSync.
bool OpenSession(Session& session, const std::string& address, int port, bool callbacks, bool print);
// The same with the session's options, with callbacks.
bool OpenSession(Session& session, bool print = false);
// UninitSync, printed as OpenSession prints.
void CloseSession(Session& session, bool print = false);
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

// What the driver's trace has said so far, read up to its end (for counts the driver only traces).
void CatchUpTrace(Session& session);

// The read commands' last line on stderr: "kxsync: 37 contacts read in 0.01 s; 3 skipped (WHY);
// Read returned 0 (success)" (no reason when none were skipped).
void PrintReadSummary(int read, const char* noun, double seconds, int skipped, const std::string& why,
                      int32_t result);

// "0 (success)", "1100 (other failure)", ...
std::string ResultText(int32_t result);

// UTF-8 to UTF-16 (invalid bytes become U+FFFD).
std::u16string Utf16(const std::string& text);

} // namespace kxsync
