#include "platform/block_cipher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const unsigned char* data, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

// The example vectors of FIPS-197 (appendix C): key 00 01 02 ..., block 00 11 22 ... ff. The
// system cipher of each platform must give exactly these.
TEST(BlockCipher, MatchesTheStandardsVectorsBothWays) {
    unsigned char key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<unsigned char>(i);
    const struct {
        size_t keyLength;
        const char* cipher;
    } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
                 {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
                 {32, "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto& c : cases) {
        unsigned char block[32];
        for (int i = 0; i < 16; ++i)
            block[i] = block[16 + i] = static_cast<unsigned char>(i * 0x11);
        ASSERT_TRUE(platform::AesEcbInPlace(key, c.keyLength, true, block, 32)) << c.keyLength;
        // ECB: equal blocks encipher equally.
        EXPECT_EQ(Hex(block, 32), std::string(c.cipher) + c.cipher) << c.keyLength;
        ASSERT_TRUE(platform::AesEcbInPlace(key, c.keyLength, false, block, 32)) << c.keyLength;
        EXPECT_EQ(Hex(block, 16), "00112233445566778899aabbccddeeff") << c.keyLength;
    }
}

TEST(BlockCipher, RefusesOddKeysAndPartialBlocks) {
    unsigned char key[32] = {0};
    unsigned char data[17] = {0};
    EXPECT_FALSE(platform::AesEcbInPlace(key, 15, true, data, 16));
    EXPECT_FALSE(platform::AesEcbInPlace(key, 0, true, data, 16));
    EXPECT_FALSE(platform::AesEcbInPlace(key, 16, true, data, 17));
    EXPECT_TRUE(platform::AesEcbInPlace(key, 16, true, data, 0));
}

} // namespace
