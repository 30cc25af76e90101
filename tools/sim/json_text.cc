#include "json_text.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/utf.h"

namespace kxsim {

std::string CompactJson(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

bool ParseJson(const char* text, size_t length, Json::Value* out, std::string* error) {
    // One reader per thread: building one costs more than parsing a small request.
    thread_local const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder b;
        b["collectComments"] = false;
        return std::unique_ptr<Json::CharReader>(b.newCharReader());
    }();
    return reader->parse(text, text + length, out, error);
}

bool ValidText(const Json::Value& v, std::string* where) {
    const char *b, *e;
    if (v.getString(&b, &e))
        return platform::IsValidUtf8(b, static_cast<size_t>(e - b));
    if (v.isArray()) {
        for (const Json::Value& item : v)
            if (!ValidText(item, where))
                return false;
    } else if (v.isObject()) {
        for (auto it = v.begin(); it != v.end(); ++it) {
            const char* end;
            const char* key = it.memberName(&end);
            if (!platform::IsValidUtf8(key, static_cast<size_t>(end - key))) {
                *where = "a member name";
                return false;
            }
            if (!ValidText(*it, where)) {
                // The innermost name is the telling one.
                if (where->empty())
                    where->assign(key, end);
                return false;
            }
        }
    }
    return true;
}

void AppendJsonString(const char* b, const char* e, std::string* out) {
    static const char kHex[] = "0123456789abcdef";
    out->push_back('"');
    const char* run = b;
    for (const char* p = b; p != e; ++p) {
        // Eight bytes at a time while none is below 0x20, '"' or '\\'.
        while (e - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
            const uint64_t quote = w ^ (ones * '"'), slash = w ^ (ones * '\\');
            if (((w - ones * 0x20) & ~w & highs) | ((quote - ones) & ~quote & highs) |
                ((slash - ones) & ~slash & highs))
                break;
            p += 8;
        }
        if (p == e)
            break;
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out->append(run, p);
        run = p + 1;
        switch (c) {
        case '"':
            out->append("\\\"");
            break;
        case '\\':
            out->append("\\\\");
            break;
        case '\n':
            out->append("\\n");
            break;
        case '\r':
            out->append("\\r");
            break;
        case '\t':
            out->append("\\t");
            break;
        default:
            out->append("\\u00");
            out->push_back(kHex[c >> 4]);
            out->push_back(kHex[c & 15]);
        }
    }
    out->append(run, e);
    out->push_back('"');
}

} // namespace kxsim
