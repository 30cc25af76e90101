// The body envelope of every request and answer: the UTF-8 JSON text, AES-128-ECB enciphered
// under the service's fixed key with a zero-padded last block, carried as base64.
#pragma once

#include <cstddef>
#include <string>

// The service's key text; its 16 bytes are the AES-128 key.
extern const char kPayloadKey[];

// The text up to its first NUL, enciphered and base64-wrapped.
std::string EncryptPayload(const char* text);
// The envelope's base64 decoded (non-alphabet characters skipped) and deciphered; the zero
// padding stays, callers read up to the first NUL.
std::string DecryptPayload(const char* envelope, size_t length);
// The deciphering half on bytes already decoded, in place: every whole block; the bytes of a
// partial last block stay as they are. False when the cipher refuses (the bytes are then left
// in an unknown state).
bool DecipherPayloadInPlace(char* bytes, size_t length);

// ECB over whole blocks; a partial last block is zero-padded. The key's length must be 16, 24
// or 32 characters; any other key gives an empty result.
std::string AesEncryptEcb(const char* key, const void* input, size_t length);
// Deciphers every whole block; trailing bytes of a partial block are kept as they are, so the
// result is as long as the input.
std::string AesDecryptEcb(const char* key, const void* input, size_t length);
