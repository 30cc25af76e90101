#include "transport/payload_cipher.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

#include "transport/base64.h"

const char kPayloadKey[] = "kvQ3pL9x_rT7&~w=";

namespace {

const EVP_CIPHER* CipherForKey(const char* key) {
    if (!key)
        return nullptr;
    switch (std::strlen(key)) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    case 32:
        return EVP_aes_256_ecb();
    default:
        return nullptr;
    }
}

// Runs whole blocks through the cipher in place; false when OpenSSL refuses.
bool RunBlocks(const char* key, bool encrypt, unsigned char* data, size_t length) {
    const EVP_CIPHER* cipher = CipherForKey(key);
    if (!cipher)
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, reinterpret_cast<const unsigned char*>(key),
                                  nullptr, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    size_t done = 0;
    while (done < length) {
        // EVP takes int lengths; go in large whole-block chunks.
        size_t chunk = length - done > (1u << 30) ? (1u << 30) : length - done;
        int out = 0;
        if (EVP_CipherUpdate(ctx.get(), data + done, &out, data + done, static_cast<int>(chunk)) != 1)
            return false;
        done += chunk;
    }
    return true;
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
