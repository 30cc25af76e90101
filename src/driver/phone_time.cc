#include "driver/phone_time.h"

#include <cctype>
#include <cstdio>

#include "driver/app.h"
#include "platform/format.h"
#include "platform/oledate.h"
#include "transport/service_request.h"

bool RequestPhoneInfo(Json::Value* answer) {
    ServiceReply reply = ServiceCall(service::kPhoneTime, nullptr);
    // Only the time matters here, whatever the answer's status says.
    if (!reply.answered() || !reply.document.isObject())
        return false;
    *answer = std::move(reply.document);
    return true;
}

namespace {

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    return text.substr(b, e - b);
}

// A whole signed decimal that fits 64 bits.
bool ReadMillis(const std::string& text, int64_t* out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18)
        return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    *out = negative ? -value : value;
    return true;
}

} // namespace

std::u16string PhoneTimeText(const std::string& raw) {
    std::string text = Trim(raw);
    if (text.empty())
        return {};
    platform::CivilTime utc;
    if (text.find('-', 1) == std::string::npos) {
        int64_t n = 0;
        if (!ReadMillis(text, &n))
            return {};
        int64_t seconds = (n > 0 && n < 1000) ? n : n / 1000; // small values are seconds
        platform::OleDate date = platform::OleDate::FromCivil(1970, 1, 1).AddSeconds(seconds);
        if (!date.ToCivil(&utc))
            return {};
    } else {
        if (text.size() < 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &utc.year, &utc.month,
                                            &utc.day, &utc.hour, &utc.minute, &utc.second) != 6)
            return {};
        platform::OleDate check = platform::OleDate::FromCivil(utc);
        if (!check.valid())
            return {};
    }
    platform::CivilTime local;
    if (!theApp.env()->UtcToLocal(utc, &local)) {
        platform::OleDate shifted =
            platform::OleDate::FromCivil(utc).AddSeconds(-60LL * theApp.env()->ZoneBiasMinutes());
        if (!shifted.ToCivil(&local))
            return {};
    }
    return platform::Format(u"%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day, local.hour,
                            local.minute, local.second);
}
