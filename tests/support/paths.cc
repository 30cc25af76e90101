#include "support/paths.h"

#include <cstdlib>

namespace kxtest {

namespace {
std::string FromEnv(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}
} // namespace

std::string BinDir() {
    return FromEnv("KX_BIN_DIR", KX_DEFAULT_BIN_DIR);
}

std::string SourceDir() {
    return FromEnv("KX_SOURCE_DIR", KX_DEFAULT_SOURCE_DIR);
}

} // namespace kxtest
