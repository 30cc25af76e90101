#include "transport/payload_cipher.h"

#include <cstring>

#include "platform/block_cipher.h"
#include "transport/base64.h"

const char kPayloadKey[] = "kvQ3pL9x_rT7&~w=";

namespace {

// Runs whole blocks through the cipher in place; false for a key that is no AES key.
bool RunBlocks(const char* key, bool encrypt, unsigned char* data, size_t length) {
    if (!key)
        return false;
    return platform::AesEcbInPlace(reinterpret_cast<const unsigned char*>(key), std::strlen(key), encrypt,
                                   data, length);
}

} // namespace

std::string AesEncryptEcb(const char* key, const void* input, size_t length) {
    size_t padded = (length + 15) / 16 * 16;
    std::string out(padded, '\0');
    if (length)
        std::memcpy(&out[0], input, length);
    if (!RunBlocks(key, true, reinterpret_cast<unsigned char*>(&out[0]), padded))
        return std::string();
    return out;
}

std::string AesDecryptEcb(const char* key, const void* input, size_t length) {
    std::string out(static_cast<const char*>(input), length);
    size_t whole = length / 16 * 16;
    if (!RunBlocks(key, false, reinterpret_cast<unsigned char*>(&out[0]), whole))
        return std::string(length, '\0');
    return out;
}

bool DecipherPayloadInPlace(char* bytes, size_t length) {
    return RunBlocks(kPayloadKey, false, reinterpret_cast<unsigned char*>(bytes), length / 16 * 16);
}

std::string EncryptPayload(const char* text) {
    if (!text)
        return std::string();
    std::string cipher = AesEncryptEcb(kPayloadKey, text, std::strlen(text));
    return Base64Encode(cipher.data(), cipher.size());
}

std::string DecryptPayload(const char* envelope, size_t length) {
    if (!envelope)
        return std::string();
    std::string bytes = Base64Decode(envelope, length);
    return AesDecryptEcb(kPayloadKey, bytes.data(), bytes.size());
}
