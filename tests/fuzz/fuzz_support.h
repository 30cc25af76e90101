// What the harnesses share: a scratch application-data folder for picture files, and the check
// that text handed to the host is well-formed UTF-16.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include "platform/env.h"

namespace kxfuzz {

// Pictures go to a scratch folder of this process, removed at exit.
class ScratchEnv : public platform::EnvWrapper {
public:
    ScratchEnv() : EnvWrapper(platform::Env::Default()) {
        namespace fs = std::filesystem;
        root = (fs::temp_directory_path() / ("kxfuzz_" + std::to_string(::getpid()))).string();
        fs::create_directories(root);
    }
    std::string AppDataDir() override { return root; }
    std::string root;

    // The one instance, installed as the current Env on first use. It lives to the end of the
    // process: the driver still traces (through the Env) while it is unloaded.
    static ScratchEnv& Installed() {
        static ScratchEnv* env = [] {
            auto* made = new ScratchEnv;
            platform::Env::SetCurrent(made);
            std::atexit([] {
                std::error_code ec;
                std::filesystem::remove_all(Installed().root, ec);
            });
            return made;
        }();
        return *env;
    }
};

// No lone surrogate: a host would take such text for broken memory.
inline bool WellFormed(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

inline void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace kxfuzz
