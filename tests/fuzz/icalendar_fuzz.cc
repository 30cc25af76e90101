// EventsFromIcalendar on any bytes: it ends, says why it refuses, and what it accepts it writes
// again and reads back the same.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "icalendar.h"

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
    kxfuzz::Check(back.size() == records.size());
    return 0;
}
