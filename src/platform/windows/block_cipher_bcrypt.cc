// AES through the system's CNG, so the driver needs no cipher library of its own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <bcrypt.h>

#include "platform/block_cipher.h"

namespace platform {

namespace {

// The AES provider in ECB mode, opened once for the process (CNG providers are thread-safe and
// opening one is costly).
BCRYPT_ALG_HANDLE EcbProvider() {
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&h, BCRYPT_AES_ALGORITHM, nullptr, 0)))
            return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
        if (!BCRYPT_SUCCESS(
                ::BCryptSetProperty(h, BCRYPT_CHAINING_MODE,
                                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                                    sizeof(BCRYPT_CHAIN_MODE_ECB), 0))) {
            ::BCryptCloseAlgorithmProvider(h, 0);
            return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
        }
        return h;
    }();
    return provider;
}

} // namespace

bool AesEcbInPlace(const unsigned char* key, size_t keyLength, bool encrypt, unsigned char* data,
                   size_t length) {
    if ((keyLength != 16 && keyLength != 24 && keyLength != 32) || length % 16 != 0)
        return false;
    BCRYPT_ALG_HANDLE provider = EcbProvider();
    if (!provider)
        return false;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptGenerateSymmetricKey(provider, &handle, nullptr, 0, const_cast<PUCHAR>(key),
                                                     static_cast<ULONG>(keyLength), 0)))
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < length) {
        // CNG takes 32-bit lengths; go in large whole-block chunks.
        ULONG chunk = static_cast<ULONG>(length - done > (1u << 30) ? (1u << 30) : length - done);
        ULONG out = 0;
        NTSTATUS rc = encrypt ? ::BCryptEncrypt(handle, data + done, chunk, nullptr, nullptr, 0, data + done,
                                                chunk, &out, 0)
                              : ::BCryptDecrypt(handle, data + done, chunk, nullptr, nullptr, 0, data + done,
                                                chunk, &out, 0);
        ok = BCRYPT_SUCCESS(rc) && out == chunk;
        done += chunk;
    }
    ::BCryptDestroyKey(handle);
    return ok;
}

} // namespace platform
