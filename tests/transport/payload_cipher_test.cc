#include "transport/payload_cipher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "platform/utf.h"
#include "support/test_util.h"
#include "transport/base64.h"
#include "transport/text_encoding.h"

namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// What a command-line tool prints for the bytes in a file (the file name is appended).
std::string ToolOutput(const std::string& command, const std::string& bytes) {
    char path[] = "/tmp/kxcipherXXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    kxtest::CommandRun run = kxtest::RunCommand(command + " " + path);
    EXPECT_EQ(run.exitCode, 0) << command;
    std::remove(path);
    return run.output;
}

// Enciphers with the openssl command-line tool, as an independent check of our block layer.
std::string OpensslEcb(const std::string& plain) {
    return ToolOutput("openssl enc -aes-128-ecb -nopad -K " + Hex(kPayloadKey) + " -in", plain);
}

std::string Unwrapped(const std::string& text) {
    std::string flat;
    for (char c : text)
        if (c != '\r' && c != '\n')
            flat.push_back(c);
    return flat;
}

TEST(PayloadCipher, BlocksMatchOpensslWithZeroPadding) {
    for (size_t n : {16u, 17u, 1u, 100u, 4096u}) {
        std::string plain;
        for (size_t i = 0; i < n; ++i)
            plain.push_back(static_cast<char>('A' + i % 26));
        std::string padded = plain + std::string((16 - n % 16) % 16, '\0');
        std::string ours = AesEncryptEcb(kPayloadKey, plain.data(), plain.size());
        EXPECT_EQ(ours.size(), padded.size()) << n;
        EXPECT_EQ(Hex(ours), Hex(OpensslEcb(padded))) << n;
        EXPECT_EQ(AesDecryptEcb(kPayloadKey, ours.data(), ours.size()), padded) << n;
    }
}

TEST(PayloadCipher, EnvelopeSizesFollowTheBlockRule) {
    EXPECT_EQ(EncryptPayload(""), "");
    std::string sixteen = EncryptPayload("{\"status\":12345}");
    EXPECT_EQ(sixteen.size(), 24u);
    EXPECT_EQ(sixteen.substr(22), "==");
    std::string seventeen = EncryptPayload("{\"status\":123456}");
    EXPECT_EQ(Base64Decode(seventeen.data(), seventeen.size()).size(), 32u);
}

TEST(PayloadCipher, RoundTripKeepsPaddingAndIgnoresLineBreaks) {
    std::string json = "{\"objects\":[{\"__id\":\"1\",\"name\":\"Zo\xC3\xAB\"}],\"status\":0}";
    std::string envelope = EncryptPayload(json.c_str());
    std::string plain = DecryptPayload(envelope.data(), envelope.size());
    ASSERT_EQ(plain.size() % 16, 0u);
    EXPECT_EQ(std::string(plain.c_str()), json); // callers stop at the first NUL

    std::string longJson(2000, 'x');
    std::string wrapped = EncryptPayload(longJson.c_str());
    ASSERT_NE(wrapped.find("\r\n"), std::string::npos);
    std::string flat = Unwrapped(wrapped);
    EXPECT_EQ(DecryptPayload(flat.data(), flat.size()), DecryptPayload(wrapped.data(), wrapped.size()));
}

TEST(PayloadCipher, GarbageNeverFailsHard) {
    EXPECT_EQ(DecryptPayload("", 0), "");
    EXPECT_EQ(DecryptPayload(nullptr, 12), "");
    EXPECT_EQ(EncryptPayload(nullptr), "");
    EXPECT_EQ(DecryptPayload("!!!", 3), "");
    std::string partial = DecryptPayload("QUJD", 4); // three bytes: no whole block
    EXPECT_EQ(partial, "ABC");
    EXPECT_EQ(AesEncryptEcb("short", "abc", 3), "");
}

TEST(Base64, CharactersAgreeWithCoreutilsAndDecodeBack) {
    for (size_t n : {1u, 2u, 3u, 56u, 57u, 58u, 59u, 113u, 114u, 115u, 912u, 1000u, 4099u}) {
        std::string bytes;
        for (size_t i = 0; i < n; ++i)
            bytes.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
        // coreutils' characters, as an independent check; a CR LF after each full line of 57
        // bytes (76 characters), a shorter last line bare.
        const std::string flat = ToolOutput("base64 -w 0", bytes);
        std::string lines;
        for (size_t at = 0; at < flat.size(); at += 76)
            lines += flat.substr(at, 76) + (at + 76 <= n / 57 * 76 ? "\r\n" : "");
        const std::string text = Base64Encode(bytes.data(), bytes.size());
        EXPECT_EQ(text, lines) << n;
        EXPECT_EQ(Base64Decode(text.data(), text.size()), bytes) << n;
    }
}

// (Encoding: against coreutils above, every remainder of three.)
TEST(Base64, LenientDecoding) {
    EXPECT_EQ(Base64Decode("Zm9v\r\nYmE=", 10), "fooba");
    EXPECT_EQ(Base64Decode("Z m 9 v", 7), "foo");
    EXPECT_EQ(Base64Decode("Zg", 2), "f");
    EXPECT_EQ(Base64Decode("Z", 1), "");
}

// The decoder takes whole groups at a time where it can; what it gives is what going one
// character at a time gives, whatever the text holds (line ends, blanks, padding, any byte).
TEST(Base64, WholeGroupsDecodeAsSingleCharacters) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto oneAtATime = [&](const std::string& text) {
        std::string out;
        uint32_t bits = 0;
        int count = 0;
        for (unsigned char c : text) {
            size_t v = alphabet.find(static_cast<char>(c));
            if (c == 0 || v == std::string::npos)
                continue;
            bits = (bits << 6) | static_cast<uint32_t>(v);
            if (++count == 4) {
                out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
                bits = 0;
                count = 0;
            }
        }
        if (count == 3)
            out += {static_cast<char>(bits >> 10), static_cast<char>(bits >> 2)};
        else if (count == 2)
            out += static_cast<char>(bits >> 4);
        return out;
    };
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const size_t length = next() % 300;
        for (size_t i = 0; i < length; ++i) {
            const uint64_t pick = next() % 100;
            text += pick < 85   ? alphabet[next() % 64]
                    : pick < 92 ? "\r\n="[next() % 3]
                                : static_cast<char>(next() % 256);
        }
        ASSERT_EQ(Base64Decode(text.data(), text.size()), oneAtATime(text)) << round;
    }
}

TEST(TextEncoding, ConvertsAndReplacesInvalidInput) {
    EXPECT_EQ(WideToUtf8(u"a\u00e9\u4e2d\U0001F600"), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide(std::string("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80")), u"a\u00e9\u4e2d\U0001F600");
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToWide(std::string("a\xFF"
                                     "b")),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide(std::string("\xE4\xB8")), u"\uFFFD");       // truncated
    EXPECT_EQ(Utf8ToWide(std::string("\xC0\x80")), u"\uFFFD\uFFFD"); // overlong
}

// Valid exactly when the conversion needs no replacement character.
TEST(TextEncoding, ValidUtf8AgreesWithTheConversion) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", true},
        {"Zo\xC3y", false},          // a two-byte character cut
        {"\xE4\xB8", false},         // truncated at the end
        {"\xC0\xAF", false},         // overlong
        {"\xED\xB0\x80", false},     // a surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"\x80", false},             // a lone continuation
        {"\xEF\xBF\xBD", true},      // U+FFFD itself is text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, platform::IsValidUtf8(c.first.data(), c.first.size())) << c.first;
        if (c.first != "\xEF\xBF\xBD") {
            EXPECT_EQ(c.second, Utf8ToWide(c.first).find(u'\uFFFD') == std::u16string::npos) << c.first;
        }
    }
}

TEST(TextEncoding, LimitedCutsOnWholeCharacters) {
    EXPECT_EQ(WideToUtf8Limited(u"a\u00e9", 2), "a");
    EXPECT_EQ(WideToUtf8Limited(u"a\u00e9", 3), "a\xC3\xA9");
    EXPECT_EQ(WideToUtf8Limited(u"\U0001F600x", 3), "");
    std::u16string chinese(3000, u'\u4e2d');
    std::string cut = WideToUtf8Limited(chinese, 5120);
    EXPECT_EQ(cut.size(), 5118u); // 1706 whole characters
    EXPECT_EQ(Utf8ToWide(cut), std::u16string(1706, u'\u4e2d'));
}

TEST(TextEncoding, Base64Utf16StopsAtNul) {
    const char utf16le[] = {'h', 0, 'i', 0, 0, 0, 'x', 0};
    std::string b64 = Base64Encode(utf16le, sizeof utf16le);
    EXPECT_EQ(Base64Utf16ToUtf8(b64.data(), b64.size()), "hi");
    const char odd[] = {'o', 0, 'k'};
    std::string b64odd = Base64Encode(odd, sizeof odd);
    EXPECT_EQ(Base64Utf16ToUtf8(b64odd.data(), b64odd.size()), "ok");
}

} // namespace
