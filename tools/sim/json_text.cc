#include "json_text.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

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

} // namespace kxsim
