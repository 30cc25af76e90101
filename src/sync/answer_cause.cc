#include "sync/answer_cause.h"

#include "platform/format.h"
#include "trace/trace.h"

namespace {

// Deciphering bytes that were never enciphered gives noise, not text: control bytes or broken
// UTF-8. A readable text that fails to parse came from the service as it is.
bool LooksDeciphered(const std::string& text) {
    if (text.empty())
        return false;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++i;
            continue;
        }
        size_t n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (n == 0 || i + n >= text.size())
            return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

} // namespace

// An Info line: the failure itself has its Error line already; this one only says why.
void TraceAnswerCause(const char16_t* caller, const ServiceReply& reply) {
    if (reply.outcome == ServiceReply::kStatus)
        KX_TRACE_INFO(caller, platform::Format(u"answer status %d", reply.status));
    else if (reply.outcome == ServiceReply::kBadAnswer)
        KX_TRACE_INFO(caller,
                      LooksDeciphered(reply.text) ? u"answer is not JSON" : u"answer not decipherable");
}
