#include "record_text.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/oledate.h"
#include "platform/utf.h"

namespace kxsync {

std::string DateText(const platform::OleDate& date) {
    platform::CivilTime c;
    // Far beyond year 9999 the day count no longer fits the conversion's whole seconds.
    if (!(std::fabs(date.days) < 3e6) || !date.ToCivil(&c))
        return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buf;
}

std::string JsonLineText(const Json::Value& value) {
    // One writer for every line (setting one up costs more than a line); kxsync prints from one
    // thread at a time, the lock says so.
    static std::mutex lock;
    static const std::unique_ptr<Json::StreamWriter> writer = [] {
        Json::StreamWriterBuilder w;
        w["indentation"] = "";
        w["emitUTF8"] = true;
        return std::unique_ptr<Json::StreamWriter>(w.newStreamWriter());
    }();
    std::lock_guard<std::mutex> hold(lock);
    std::ostringstream out;
    writer->write(value, &out);
    return out.str();
}

std::string Shortened(const std::string& text, size_t limit, size_t keep) {
    if (text.size() <= limit)
        return text;
    size_t end = keep < text.size() ? keep : text.size();
    // Never end inside a character: back off over the continuation bytes of a cut one.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end) + "...";
}

std::string Utf8(const std::u16string& text) {
    return platform::Utf16ToUtf8(text);
}

std::string Utf8(const KXChar* text) {
    return text ? Utf8(std::u16string(text)) : std::string();
}

} // namespace kxsync
