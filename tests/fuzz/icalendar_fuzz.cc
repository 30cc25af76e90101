// EventsFromIcalendar on any bytes: it ends, says why it refuses, and what it accepts it writes
// again and reads back to the same file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "icalendar.h"

// DTSTAMP is the time of writing when an event has no modification time.
static std::string WithoutStamps(const std::string& text) {
    std::string out;
    for (size_t pos = 0, end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        if (text.compare(pos, 8, "DTSTAMP:") != 0)
            out += text.substr(pos, end + 2 - pos);
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::ScratchEnv::Installed();
    std::string text(reinterpret_cast<const char*>(data), size), error;
    std::vector<CalendarRecord> records;
    if (!kxsync::EventsFromIcalendar(text, &records, &error)) {
        kxfuzz::Check(records.empty() && error.compare(0, 5, "line ") == 0);
        return 0;
    }
    std::string again = kxsync::EventsToIcalendar(records);
    std::vector<CalendarRecord> back;
    if (!kxsync::EventsFromIcalendar(again, &back, &error))
        std::fprintf(stderr, "%s\n%s\n", error.c_str(), again.c_str());
    kxfuzz::Check(error.empty());
    std::string twice = kxsync::EventsToIcalendar(back);
    if (WithoutStamps(twice) != WithoutStamps(again))
        std::fprintf(stderr, "written from the file:\n%s\nwritten again:\n%s\n", again.c_str(),
                     twice.c_str());
    kxfuzz::Check(back.size() == records.size() && WithoutStamps(twice) == WithoutStamps(again));
    return 0;
}
