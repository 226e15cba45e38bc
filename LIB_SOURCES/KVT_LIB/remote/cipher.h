// The two primitives the stored-password encoding needs: MD5 (from libcrypto) and RC4.
//
// RC4 is written here: OpenSSL 3 keeps it only in its legacy provider, which an installation
// need not load. Only this module's source includes OpenSSL's headers.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t CIPHER_MD5_SIZE = 16;
constexpr size_t CIPHER_RC4_KEY_SIZE = 16;

// The MD5 digest of length bytes into digest. 0, or -1 when libcrypto refuses.
int cipher_Md5(const void *bytes, size_t length, uint8_t digest[CIPHER_MD5_SIZE]);

// RC4 over length bytes with a fresh key schedule of the 16-byte key: out[n] = in[n] xor the
// n-th keystream byte. in and out may be the same buffer. Encryption and decryption are the
// same operation.
void cipher_Rc4(const uint8_t key[CIPHER_RC4_KEY_SIZE], const uint8_t *in, uint8_t *out,
                size_t length);
