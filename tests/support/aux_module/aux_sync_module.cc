// A stand-in for the sibling sync library of data types 3 and 6. Each call appends one line
// "<entry> <type> <param>" to the file named by KX_AUX_SYNC_LOG (nothing when unset), as do
// loading ("load") and unloading ("unload"). Read and Write answer with the number in
// KX_AUX_SYNC_RESULT (0 when unset). While the file named by KX_AUX_SYNC_BLOCK exists, Read
// waits (at most ten seconds) after writing its line, so a test can act during an operation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

void Note(const char* what, long long type, unsigned long long param) {
    const char* path = std::getenv("KX_AUX_SYNC_LOG");
    if (!path || !*path)
        return;
    if (FILE* f = std::fopen(path, "a")) {
        if (type < 0)
            std::fprintf(f, "%s\n", what);
        else
            std::fprintf(f, "%s %lld %llu\n", what, type, param);
        std::fclose(f);
    }
}

int32_t Answer() {
    const char* text = std::getenv("KX_AUX_SYNC_RESULT");
    return text ? static_cast<int32_t>(std::strtol(text, nullptr, 10)) : 0;
}

struct LoadMarker {
    LoadMarker() { Note("load", -1, 0); }
    ~LoadMarker() { Note("unload", -1, 0); }
} marker;

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t Read(int32_t type, uintptr_t param) {
    Note("Read", type, param);
    const char* block = std::getenv("KX_AUX_SYNC_BLOCK");
    for (int i = 0; block && *block && i < 10000 && ::access(block, F_OK) == 0; ++i)
        ::usleep(1000);
    return Answer();
}

extern "C" __attribute__((visibility("default"))) int32_t Write(int32_t type, uintptr_t param) {
    Note("Write", type, param);
    return Answer();
}

extern "C" __attribute__((visibility("default"))) int32_t Stop(int32_t type, uintptr_t param) {
    Note("Stop", type, param);
    return 0;
}
