#include "record_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/oledate.h"
#include "platform/utf.h"
#include "sync/time_conversions.h"

namespace kxsync {

namespace {

bool Civil(const platform::OleDate& date, platform::CivilTime* c) {
    // Far beyond year 9999 the day count no longer fits the conversion's whole seconds.
    return std::fabs(date.days) < 3e6 && date.ToCivil(c);
}

// Seconds east of UTC of this computer's zone at the local time.
int64_t OffsetAt(const platform::OleDate& local) {
    platform::OleDate utc = CalConv::LocalToUtc(local);
    return utc.valid() ? local.TotalSeconds() - utc.TotalSeconds() : 0;
}

std::string OffsetText(int64_t seconds) {
    char sign = seconds < 0 ? '-' : '+';
    int64_t a = std::llabs(seconds);
    char buf[32];
    if (a % 60)
        std::snprintf(buf, sizeof buf, "%c%02lld:%02lld:%02lld", sign, static_cast<long long>(a / 3600),
                      static_cast<long long>(a / 60 % 60), static_cast<long long>(a % 60));
    else
        std::snprintf(buf, sizeof buf, "%c%02lld:%02lld", sign, static_cast<long long>(a / 3600),
                      static_cast<long long>(a / 60 % 60));
    return buf;
}

bool Digits(const std::string& text, size_t at, size_t n, int* out) {
    if (at + n > text.size())
        return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    *out = v;
    return true;
}

// "yyyy-mm-dd", then the time of day after separator unless dayOnlyAtMidnight and it is midnight;
// "" for a date that is none.
std::string CivilDateText(const platform::OleDate& date, char separator, bool dayOnlyAtMidnight = false) {
    platform::CivilTime c;
    if (!Civil(date, &c))
        return "";
    char buf[64];
    if (dayOnlyAtMidnight && c.hour == 0 && c.minute == 0 && c.second == 0)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d:%02d", c.year, c.month, c.day, separator,
                      c.hour, c.minute, c.second);
    return buf;
}

} // namespace

std::string DateText(const platform::OleDate& date) {
    return CivilDateText(date, ' ');
}

std::string ZonedTimeText(const platform::OleDate& local) {
    std::string text = CivilDateText(local, 'T');
    return text.empty() ? text : text + OffsetText(OffsetAt(local));
}

std::string DayTimeText(const platform::OleDate& date) {
    return CivilDateText(date, 'T', /*dayOnlyAtMidnight=*/true);
}

bool IsNoDate(const platform::OleDate& date) {
    return date.valid() && date.days == 0.0;
}

bool ParseTimeText(const std::string& text, bool zoned, platform::OleDate* out, std::string* why) {
    if (text.empty()) {
        *out = platform::OleDate();
        out->status = platform::OleDate::kInvalid;
        return true;
    }
    auto fail = [&] {
        *why = zoned ? "a time \"yyyy-mm-ddThh:mm:ss+hh:mm\" (or a day \"yyyy-mm-dd\")"
                     : "a day \"yyyy-mm-dd\" (or \"yyyy-mm-ddThh:mm:ss\", without a zone: all-day events "
                       "have none)";
        return false;
    };
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (!Digits(text, 0, 4, &y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, &mo) ||
        text[7] != '-' || !Digits(text, 8, 2, &d))
        return fail();
    size_t at = 10;
    if (at < text.size()) {
        if ((text[at] != 'T' && text[at] != ' ') || !Digits(text, at + 1, 2, &h) || text.size() < at + 9 ||
            text[at + 3] != ':' || !Digits(text, at + 4, 2, &mi) || text[at + 6] != ':' ||
            !Digits(text, at + 7, 2, &s))
            return fail();
        at += 9;
    }
    bool hasZone = at < text.size();
    int64_t offset = 0;
    if (hasZone) {
        if (!zoned)
            return fail();
        if (text.compare(at, std::string::npos, "Z") == 0) {
            offset = 0;
        } else {
            int oh, om, os = 0;
            char sign = text[at];
            size_t left = text.size() - at;
            if ((sign != '+' && sign != '-') || (left != 6 && left != 9) || !Digits(text, at + 1, 2, &oh) ||
                text[at + 3] != ':' || !Digits(text, at + 4, 2, &om) ||
                (left == 9 && (text[at + 6] != ':' || !Digits(text, at + 7, 2, &os))) || om > 59 || os > 59)
                return fail();
            offset = (sign == '-' ? -1 : 1) * (oh * 3600LL + om * 60 + os);
        }
    }
    platform::OleDate civil = platform::OleDate::FromCivil(y, mo, d, h, mi, s);
    if (!civil.valid())
        return fail();
    // Written with the offset this zone has at that time (as the printer writes it), the time is
    // this zone's as written, also in the hour a clock change repeats or skips.
    if (!hasZone || offset == OffsetAt(civil)) {
        *out = civil;
        return true;
    }
    platform::OleDate local = CalConv::UtcToLocal(civil.AddSeconds(-offset));
    if (!local.valid())
        return fail();
    *out = local;
    return true;
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

bool ParseJsonText(const std::string& text, Json::Value* value) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (reader->parse(text.data(), text.data() + text.size(), value, nullptr))
        return true;
    *value = Json::Value();
    return false;
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

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char buf[8];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned char>(text[++i]));
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Utf8(const std::u16string& text) {
    return platform::Utf16ToUtf8(text);
}

std::string Utf8(const KXChar* text) {
    return text ? Utf8(std::u16string(text)) : std::string();
}

} // namespace kxsync
