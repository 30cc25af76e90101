#include "transport/base64.h"

#include <cstdint>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct DecodeTable {
    int8_t value[256];
    // The value of a character already in place for each of the four positions of a group; a
    // character outside the alphabet sets the top byte.
    uint32_t placed[4][256];
    DecodeTable() {
        for (int i = 0; i < 256; ++i) {
            value[i] = -1;
            for (int k = 0; k < 4; ++k)
                placed[k][i] = 0xFF000000u;
        }
        for (int i = 0; i < 64; ++i) {
            const unsigned char c = static_cast<unsigned char>(kAlphabet[i]);
            value[c] = static_cast<int8_t>(i);
            for (int k = 0; k < 4; ++k)
                placed[k][c] = static_cast<uint32_t>(i) << (18 - 6 * k);
        }
    }
};

} // namespace

std::string Base64Encode(const void* data, size_t length) {
    const unsigned char* in = static_cast<const unsigned char*>(data);
    const size_t groups = length / 3;
    const size_t rest = length % 3;
    // Every full line of 19 groups keeps its CR LF, even the last; a shorter last line ends bare.
    const size_t fullLines = groups / 19;
    std::string out(groups * 4 + fullLines * 2 + (rest ? 4 : 0), '\0');
    char* p = &out[0];
    // One group's four characters, read before any is written (the output may not alias them).
    auto group = [](const unsigned char* b, char* o) {
        const uint32_t v = (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
        const char c0 = kAlphabet[v >> 18], c1 = kAlphabet[(v >> 12) & 63], c2 = kAlphabet[(v >> 6) & 63],
                   c3 = kAlphabet[v & 63];
        o[0] = c0;
        o[1] = c1;
        o[2] = c2;
        o[3] = c3;
    };
    for (size_t line = 0; line < fullLines; ++line) {
        for (int g = 0; g < 19; ++g, in += 3, p += 4)
            group(in, p);
        p[0] = '\r';
        p[1] = '\n';
        p += 2;
    }
    for (size_t g = groups % 19; g > 0; --g, in += 3, p += 4)
        group(in, p);
    if (rest) {
        uint32_t v = uint32_t(in[0]) << 16;
        if (rest == 2)
            v |= uint32_t(in[1]) << 8;
        p[0] = kAlphabet[v >> 18];
        p[1] = kAlphabet[(v >> 12) & 63];
        p[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        p[3] = '=';
    }
    return out;
}

size_t Base64DecodeTo(const char* text, size_t length, char* out) {
    static const DecodeTable table;
    const int8_t* value = table.value;
    char* o = out;
    uint32_t bits = 0;
    int count = 0;
    size_t i = 0;
    while (i < length) {
        // Whole groups of four alphabet characters at a time while they last (between the line
        // ends); anything else goes one character at a time.
        if (count == 0) {
            while (i + 4 <= length) {
                const uint32_t v = table.placed[0][static_cast<unsigned char>(text[i])] |
                                   table.placed[1][static_cast<unsigned char>(text[i + 1])] |
                                   table.placed[2][static_cast<unsigned char>(text[i + 2])] |
                                   table.placed[3][static_cast<unsigned char>(text[i + 3])];
                if (v & 0xFF000000u)
                    break;
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>(v >> 8);
                o[2] = static_cast<char>(v);
                o += 3;
                i += 4;
            }
            if (i >= length)
                break;
        }
        int8_t v = value[static_cast<unsigned char>(text[i++])];
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            o[0] = static_cast<char>(bits >> 16);
            o[1] = static_cast<char>(bits >> 8);
            o[2] = static_cast<char>(bits);
            o += 3;
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        o[0] = static_cast<char>(bits >> 10);
        o[1] = static_cast<char>(bits >> 2);
        o += 2;
    } else if (count == 2) {
        *o++ = static_cast<char>(bits >> 4);
    }
    return static_cast<size_t>(o - out);
}

std::string Base64Decode(const char* text, size_t length) {
    // Never more than three bytes per four characters; written in place, cut to size at the end.
    std::string out(Base64DecodedBound(length), '\0');
    out.resize(Base64DecodeTo(text, length, &out[0]));
    return out;
}
