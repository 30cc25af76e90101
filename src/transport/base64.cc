#include "transport/base64.h"

#include <cstdint>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
    int8_t value[256];
    DecodeTable() {
        for (int i = 0; i < 256; ++i)
            value[i] = -1;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    }
};

} // namespace

std::string Base64Encode(const void* data, size_t length) {
    const unsigned char* in = static_cast<const unsigned char*>(data);
    const size_t groups = length / 3;
    const size_t rest = length % 3;
    const size_t lines = groups == 0 ? 0 : (groups + 18) / 19;
    std::string out;
    out.reserve(groups * 4 + lines * 2 + 4);
    for (size_t g = 0; g < groups; ++g) {
        uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
        in += 3;
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
        // A full line keeps its CR LF even at the end; a shorter last line ends bare.
        if ((g + 1) % 19 == 0)
            out += "\r\n";
    }
    if (rest) {
        uint32_t v = uint32_t(in[0]) << 16;
        if (rest == 2)
            v |= uint32_t(in[1]) << 8;
        out.push_back(kAlphabet[v >> 18]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string Base64Decode(const char* text, size_t length) {
    static const DecodeTable table;
    std::string out;
    out.reserve(length / 4 * 3 + 3);
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        int8_t v = table.value[static_cast<unsigned char>(text[i])];
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<char>(bits >> 16));
            out.push_back(static_cast<char>(bits >> 8));
            out.push_back(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out.push_back(static_cast<char>(bits >> 10));
        out.push_back(static_cast<char>(bits >> 2));
    } else if (count == 2) {
        out.push_back(static_cast<char>(bits >> 4));
    }
    return out;
}
