#include "driver/phone_time.h"

#include <cctype>

#include "driver/app.h"
#include "platform/format.h"
#include "platform/oledate.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "sync/answer_cause.h"
#include "sync/time_conversions.h"
#include "transport/service_request.h"

bool RequestPhoneInfo(Json::Value* answer) {
    ServiceReply reply = ServiceCall(service::kPhoneTime, nullptr);
    // Only the time matters here, whatever the answer's status says.
    if (!reply.answered() || !reply.document.isObject()) {
        TraceAnswerCause(u"RequestPhoneInfo", reply);
        return false;
    }
    *answer = std::move(reply.document);
    return true;
}

namespace {

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
    std::string text = platform::Trim(raw);
    if (text.empty())
        return {};
    // A "now" that is not one whole number (nor a date text) is no time at all, not 1970.
    int64_t millis = 0;
    if (text.find('-', 1) == std::string::npos && !ReadMillis(text, &millis))
        return {};
    platform::OleDate date;
    platform::CivilTime local;
    if (!CalConv::MillisTextToDate(platform::Utf8ToUtf16(text), /*allDay=*/false, &date) || !date.valid() ||
        !date.ToCivil(&local))
        return {};
    return platform::Format(u"%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month, local.day, local.hour,
                            local.minute, local.second);
}
