#include "platform/block_cipher.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

bool AesEcbInPlace(const unsigned char* key, size_t keyLength, bool encrypt, unsigned char* data,
                   size_t length) {
    const EVP_CIPHER* cipher = keyLength == 16   ? EVP_aes_128_ecb()
                               : keyLength == 24 ? EVP_aes_192_ecb()
                               : keyLength == 32 ? EVP_aes_256_ecb()
                                                 : nullptr;
    if (!cipher || length % 16 != 0)
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, nullptr, encrypt ? 1 : 0) != 1)
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

} // namespace platform
