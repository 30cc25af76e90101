// ContactsFromVcard on any bytes: it ends, says why it refuses, leaves nothing behind when it
// does, and what it accepts it writes again and reads back the same.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::ScratchEnv& env = kxfuzz::ScratchEnv::Installed();
    std::string text(reinterpret_cast<const char*>(data), size), error;
    std::vector<ContactRecord> records;
    if (!kxsync::ContactsFromVcard(text, env.root + "/pictures", &records, &error)) {
        kxfuzz::Check(records.empty() && error.compare(0, 5, "line ") == 0);
        return 0;
    }
    for (const ContactRecord& r : records)
        for (int32_t i = 0; i < r.GetFieldCount(); ++i)
            kxfuzz::Check(kxfuzz::WellFormed(r.GetField(i)->strData));
    std::string again = kxsync::ContactsToVcard(records);
    std::vector<ContactRecord> back;
    if (!kxsync::ContactsFromVcard(again, env.root + "/pictures", &back, &error))
        std::fprintf(stderr, "%s\n%s\n", error.c_str(), again.c_str());
    kxfuzz::Check(error.empty());
    kxfuzz::Check(back.size() == records.size() && kxsync::ContactsToVcard(back) == again);
    return 0;
}
