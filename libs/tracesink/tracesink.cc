#include "tracesink.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(const char16_t* text) {
    std::string out;
    if (!text)
        return out;
    for (const char16_t* p = text; *p; ++p) {
        uint32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::mutex& SinkLock() {
    static std::mutex* lock = new std::mutex; // outlives every caller, even at unload
    return *lock;
}

} // namespace

extern "C" int32_t OutputString(const char16_t* tag, int32_t level, const char16_t* text) {
    (void)tag;
    (void)level;
    const char* target = std::getenv("KXPHONE_TRACE_FILE");
    if (!target || !*target)
        return 0;
    std::string line = ToUtf8(text);
    std::lock_guard<std::mutex> hold(SinkLock());
    if (target[0] == '-' && target[1] == '\0') {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        return 0;
    }
    FILE* f = std::fopen(target, "ab");
    if (!f)
        return -1;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    return 0;
}
