// An answer as it arrives on the socket: the HTTP framing (whole, and delivered in pieces, must
// agree), then the body's envelope (base64, cipher, zero padding) and the JSON parse.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "transport/base64.h"
#include "transport/http_client.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"

using kxfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    // A small limit, so declared lengths around it are reachable.
    const size_t limit = 1 << 16;
    HttpClient::PkgScan whole;
    const int32_t framed = HttpClient::HttpPkgScan(bytes, size, &whole, limit);

    HttpClient::PkgScan pieces;
    const size_t step = 1 + (size ? data[0] % 13 : 0);
    int32_t piecewise = -1;
    for (size_t n = 0;; n = n + step < size ? n + step : size) {
        piecewise = HttpClient::HttpPkgScan(bytes, n, &pieces, limit);
        if (piecewise >= 0 || piecewise == -4 || n == size)
            break;
    }
    Check(piecewise == framed);
    Check(framed < 0 || whole.bodyStart + static_cast<size_t>(framed) <= size);

    if (framed > 0) {
        ServiceReply reply = ParseServiceAnswer(bytes + whole.bodyStart, static_cast<size_t>(framed));
        Check(reply.text.size() == std::strlen(reply.text.c_str()));
        if (reply.outcome == ServiceReply::kOk || reply.outcome == ServiceReply::kStatus)
            Check(reply.document.isObject() && (reply.outcome == ServiceReply::kOk) == (reply.status == 0));
        else
            Check(reply.outcome == ServiceReply::kBadAnswer && reply.document.isNull());
    }

    // The codecs on their own.
    const std::string decoded = Base64Decode(bytes, size);
    Check(decoded.size() <= size);
    const std::string again = Base64Encode(decoded.data(), decoded.size());
    Check(Base64Decode(again.data(), again.size()) == decoded);
    const std::string plain = DecryptPayload(bytes, size);
    Check(AesDecryptEcb(kPayloadKey, data, size).size() == size);
    const std::string sealed = AesEncryptEcb(kPayloadKey, data, size);
    std::string back = AesDecryptEcb(kPayloadKey, sealed.data(), sealed.size());
    Check(back.size() >= size && std::memcmp(back.data(), data, size) == 0);
    (void)plain;
    return 0;
}
