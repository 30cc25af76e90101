// kxsync's contact commands: "contacts read [--json]" against a handset service, and "demo",
// which starts kxphone-sim with seeded contacts on a free loopback port and reads them all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxsync {

// Where the handset service listens and which serial the bridge would use.
struct ServiceAddress {
    std::string ip = "127.0.0.1";
    int port = 0;
    std::string serial;
};

// Parses "http://IP:PORT" (the scheme is optional). False when it is not of that form.
bool ParseServiceUrl(const std::string& url, ServiceAddress* out);

struct ContactReadOptions {
    bool json = false;      // JSON lines instead of one readable line per contact
    bool print = true;      // print every contact on stdout
    bool progress = true;   // progress bar on stderr
    size_t keepSamples = 0; // how many printed lines to keep for a summary
};

struct ContactReadOutcome {
    int32_t result = -1;   // what Read(2, 0) returned
    int32_t finalCode = 0; // 0x20003, or 0x20002 with finalValue
    intptr_t finalValue = 0;
    int delivered = 0;    // record messages
    int callbacks = 0;    // RecordCallback calls
    int lastPercent = -1; // last progress message
    double seconds = 0;
    std::vector<std::string> samples;
};

// Loads the driver next to this program, runs a full contact read and unloads it. Ctrl-C
// during the read calls Stop from a second thread. False (with a message on stderr) when the
// driver cannot be loaded.
bool ReadContacts(const ServiceAddress& address, const ContactReadOptions& options,
                  ContactReadOutcome* outcome);

// The subcommands; args are what follows the subcommand's name. Exit codes: 0 success, 1 the
// read failed, 2 usage.
int ContactsCommand(const ServiceAddress& address, const std::vector<std::string>& args);
int DemoCommand(const std::vector<std::string>& args);

// The folder this program lives in (where the driver and kxphone-sim are).
std::string ProgramFolder();

} // namespace kxsync
