// One host session with the driver: what every command shares. Commands run on the main thread;
// only Stop comes from the interrupt thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "driver_library.h"
#include "host_window.h"
#include "options.h"

namespace kxsync {

struct Session {
    const Options& options;
    const DriverApi& api;
    HostWindow& window;
    // Data type of the running operation, for Stop.
    std::atomic<int32_t> runningType{0};
};

// The host callbacks handed to SetParam count their calls here.
extern std::atomic<uint32_t> g_recordCallbacks;
extern std::atomic<uint32_t> g_progressCallbacks;

// InitDriver, SetParam and InitSync with the session's options, each printed. False when the
// driver refused InitSync.
bool OpenSession(Session& session);
// UninitSync, printed.
void CloseSession(Session& session);

// Prints the messages received since the last Clear() and clears them.
void PrintMessages(Session& session);

// "0 (success)", "1100 (other failure)", ...
std::string ResultText(int32_t result);

// UTF-8 to UTF-16 (invalid bytes become U+FFFD).
std::u16string Utf16(const std::string& text);

} // namespace kxsync
