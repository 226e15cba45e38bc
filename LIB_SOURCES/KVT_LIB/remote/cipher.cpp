#include "cipher.h"

#include <openssl/evp.h>

#include <utility>

int cipher_Md5(const void *bytes, size_t length, uint8_t digest[CIPHER_MD5_SIZE]) {
    unsigned int size = 0;
    if (EVP_Digest(bytes, length, digest, &size, EVP_md5(), nullptr) != 1) return -1;
    return size == CIPHER_MD5_SIZE ? 0 : -1;
}

void cipher_Rc4(const uint8_t key[CIPHER_RC4_KEY_SIZE], const uint8_t *in, uint8_t *out,
                size_t length) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s[i] + key[i % CIPHER_RC4_KEY_SIZE]);
        std::swap(s[i], s[j]);
    }
    uint8_t a = 0;
    uint8_t b = 0;
    for (size_t n = 0; n < length; ++n) {
        a = static_cast<uint8_t>(a + 1);
        b = static_cast<uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        out[n] = in[n] ^ s[static_cast<uint8_t>(s[a] + s[b])];
    }
}
