// The phone information on the same bytes three ways: the clock answer of the handset (envelope,
// parse, the "now" value), the host's device description (tag text and role string), and a host
// answer buffer the property document is appended to.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "driver/phone_time.h"
#include "driver/tag_parser.h"
#include "fuzz_support.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"
#include "transport/text_encoding.h"

using kxfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::ScratchEnv::Installed();
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string envelope = EncryptPayload(text.c_str());
    ServiceReply reply = ParseServiceAnswer(envelope.data(), envelope.size());
    if (reply.answered() && reply.document.isObject()) {
        const Json::Value& time = reply.document["time"];
        if (time.isObject() && (time["now"].isString() || time["now"].isIntegral())) {
            std::u16string now = PhoneTimeText(time["now"].asString());
            Check(now.empty() || now.size() == 19);
        }
    }

    // The description as the host hands it: UTF-16, ending at its NUL.
    std::u16string description = Utf8ToWide(text);
    description = description.substr(0, description.find(u'\0'));
    CTagParser parser;
    parser.ParseRoleString(CTagParser::TagText(description, u"<kernelinfo>", u"</kernelinfo>"));
    parser.GetInt(u"sdk");
    parser.GetInt(u"pid");
    uintptr_t slot = reinterpret_cast<uintptr_t>(description.c_str());
    Check(theApp.m_FakePhone.GetProfile(KX_TYPE_PHONE_INFO, reinterpret_cast<uintptr_t>(&slot)) == KX_OK);

    // A host buffer of the smallest accepted size holding the description; a long one leaves no NUL.
    std::vector<KXChar> buffer(1024, u'x');
    const size_t held = std::min(description.size(), buffer.size());
    std::copy(description.begin(), description.begin() + static_cast<std::ptrdiff_t>(held), buffer.begin());
    if (held < buffer.size())
        buffer[held] = u'\0';
    KXAnswerBlock block{static_cast<int32_t>(buffer.size()), buffer.data()};
    int32_t r = theApp.m_FakePhone.Inquire(KX_INQUIRE_PHONE_PROPERTIES, reinterpret_cast<uintptr_t>(&block));
    Check(block.buffer == buffer.data() && (r == KX_OK || r == KX_INVALID_ARGUMENT));
    return 0;
}
