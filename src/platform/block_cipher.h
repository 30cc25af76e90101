// AES in ECB mode on whole blocks, from the system's own cipher library (OpenSSL on POSIX, CNG on
// Windows), so the transport's payload cipher stays portable.
#pragma once

#include <cstddef>

namespace platform {

// Enciphers (or deciphers) length bytes in place; length must be a multiple of 16 and the key 16,
// 24 or 32 bytes long. No padding is added or removed. False when the key length is wrong, the
// length is no whole number of blocks or the system cipher refuses.
bool AesEcbInPlace(const unsigned char* key, size_t keyLength, bool encrypt, unsigned char* data,
                   size_t length);

} // namespace platform
