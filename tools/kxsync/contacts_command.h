// The full contact read as kxsync's commands run it ("contacts read" and "demo").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/contact_record.h>

#include "session.h"

namespace kxsync {

struct ContactReadOptions {
    bool json = false;      // JSON lines instead of one readable line per contact
    bool all = false;       // readable lines with every field
    bool print = true;      // every contact on stdout
    size_t keepSamples = 0; // lines kept for a summary
};

struct ContactReadOutcome {
    int32_t result = -1;    // what Read(2, 0) returned
    uint32_t finalCode = 0; // 0x20003, or 0x20002 with finalValue
    intptr_t finalValue = 0;
    int delivered = 0; // record messages
    int lastPercent = -1;
    int pictures = 0;          // contacts with a picture file
    std::string pictureFolder; // where the last of them is
    double seconds = 0;
    std::vector<std::string> samples;
};

// InitDriver, SetParam and InitSync for the service at address:port (nothing printed, so that
// stdout carries only records), Read(2, 0) with Ctrl-C mapped to Stop, UninitSync.
void ReadContacts(Session& session, const std::string& address, int port, const ContactReadOptions& options,
                  ContactReadOutcome* outcome);

// One readable line of a contact, as "contacts read" prints it (all: every field).
std::string ContactReadableLine(const ContactRecord& r, bool all = false);

} // namespace kxsync
