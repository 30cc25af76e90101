// One read through the driver as a host runs it, for any data type: load vexoCorsaT3.so next to
// this program, InitDriver / SetParam / InitSync with our host window, Read(type, flags) on this
// thread with a progress bar on stderr, Ctrl-C turned into Stop from a second thread, then
// UninitSync and unload. The caller sees each record while its message is handled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "contacts_command.h"
#include "platform/oledate.h"

namespace kxsync {

struct ReadSessionOutcome {
    int32_t result = -1;   // what Read returned
    int32_t finalCode = 0; // read-finished, or read-failed with finalValue
    intptr_t finalValue = 0;
    int delivered = 0;    // record-read messages
    int callbacks = 0;    // RecordCallback calls
    int lastPercent = -1; // last progress message
    double seconds = 0;
};

// Called for every record-read message of the type's family; record is the driver's and valid
// only during the call.
using RecordHandler = std::function<void(const void* record)>;

// False (with a message on stderr) when the driver cannot be loaded.
bool RunRead(const ServiceAddress& address, int32_t type, uint32_t flags, bool progressBar,
             const RecordHandler& onRecord, ReadSessionOutcome* outcome);

// Prints one line on stdout without tearing a progress bar drawn on stderr.
void PrintRecordLine(const std::string& line);

// Text of the records for printing: UTF-8 (a lone surrogate becomes U+FFFD), and dates as
// "yyyy-mm-dd hh:mm:ss" ("" for an invalid date).
std::string ToUtf8(const std::u16string& text);
std::string DateTimeText(const platform::OleDate& date);

} // namespace kxsync
