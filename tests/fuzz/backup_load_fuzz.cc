// Both backup loaders on the same bytes: whatever the file holds, a load ends with 0 or 1, and a
// failed load leaves no picture file behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "calendar/calendar_backup.h"
#include "contacts/contact_backup.h"
#include "platform/env.h"
#include "sync/picture_file.h"
#include "transport/text_encoding.h"

namespace {

namespace fs = std::filesystem;

// Pictures go to a scratch folder of this process.
class ScratchEnv : public platform::EnvWrapper {
public:
    ScratchEnv() : EnvWrapper(platform::Env::Default()) {
        root = (fs::temp_directory_path() / ("kxfuzz_" + std::to_string(::getpid()))).string();
        fs::create_directories(root);
    }
    ~ScratchEnv() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string AppDataDir() override { return root; }
    std::string root;
};

size_t Pictures(const std::string& root) {
    std::error_code ec;
    fs::directory_iterator it(root + "/Vexo/data", ec);
    return ec ? 0 : static_cast<size_t>(std::distance(it, fs::directory_iterator()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchEnv scratch;
    static ScratchEnv* env = [] {
        platform::Env::SetCurrent(&scratch);
        return &scratch;
    }();
    for (const char* name : {"people.dat", "calendar.dat"}) {
        std::ofstream(env->root + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(data), size);
    }
    const std::u16string folder = Utf8ToWide(env->root);
    {
        RecordList<ContactRecord> contacts;
        int32_t result = LoadContentFromBackupFile(&contacts, folder);
        if (result != 0 && result != 1)
            std::abort();
        size_t made = 0;
        for (ContactRecord* c : contacts)
            if (const ContactField* holder = c->PictureHolder())
                made += !holder->strFilePath.empty();
        if (Pictures(env->root) != made)
            std::abort(); // a picture of a record that did not load is left behind
        for (ContactRecord* c : contacts)
            if (const ContactField* holder = c->PictureHolder())
                RemovePictureFile(holder->strFilePath);
    }
    RecordList<CalendarRecord> events;
    int32_t result = LoadCalendarFromBackupFile(&events, folder);
    if (result != 0 && result != 1)
        std::abort();
    return 0;
}
