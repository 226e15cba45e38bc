#include "pwenc.h"

#include "cipher.h"
#include "reg.h"

#include <cstring>
#include <vector>

int pwenc_EnsureKeys() {
    return 1;
}

int pwenc_MakeKey(const char *phrase, int form, uint8_t key[16]) {
    if (phrase == nullptr) return -1;
    uint8_t digest[CIPHER_MD5_SIZE];
    if (cipher_Md5(phrase, strlen(phrase), digest) != 0) return -1;
    memcpy(key, digest, CIPHER_RC4_KEY_SIZE);
    if (form == PWENC_KEY_BASE) memset(key + 5, 0, CIPHER_RC4_KEY_SIZE - 5);
    return 0;
}

int pwenc_Encrypt(const char *text, uint8_t *out, const char *phrase) {
    if (text == nullptr || out == nullptr) return 0;
    size_t length = strlen(text);
    if (length > static_cast<size_t>(PWENC_MAX_BYTES)) return 0;
    uint8_t key[CIPHER_RC4_KEY_SIZE];
    if (pwenc_MakeKey(phrase, PWENC_KEY_FULL, key) != 0) return 0;
    cipher_Rc4(key, reinterpret_cast<const uint8_t *>(text), out, length);
    return static_cast<int>(length);
}

int pwenc_DecryptWith(const uint8_t *bytes, int length, uint8_t *out, const char *phrase,
                      int form) {
    if (bytes == nullptr || out == nullptr || length < 0 || length > PWENC_MAX_BYTES) return 0;
    uint8_t key[CIPHER_RC4_KEY_SIZE];
    if (pwenc_MakeKey(phrase, form, key) != 0) return 0;
    cipher_Rc4(key, bytes, out, static_cast<size_t>(length));
    return 1;
}

int pwenc_Decrypt(const uint8_t *bytes, int length, char *out, const char *phrase) {
    if (length < 0 || length > PWENC_MAX_BYTES) return 0;
    std::vector<uint8_t> plain(static_cast<size_t>(length));
    if (pwenc_DecryptWith(bytes, length, plain.data(), phrase, PWENC_KEY_FULL) == 0) return 0;
    memcpy(out, plain.data(), plain.size());
    out[length] = '\0';
    return 1;
}

std::string pwenc_ToHex(const void *bytes, size_t length) {
    static const char k_digits[] = "0123456789abcdef";
    const auto *b = static_cast<const uint8_t *>(bytes);
    std::string hex;
    hex.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        hex += k_digits[b[i] >> 4];
        hex += k_digits[b[i] & 0x0F];
    }
    return hex;
}

namespace {
int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

int pwenc_FromHex(const char *hex, std::string *bytes) {
    size_t length = strlen(hex);
    if (length % 2 != 0) return -1;
    std::string out;
    out.reserve(length / 2);
    for (size_t i = 0; i < length; i += 2) {
        int high = digitValue(hex[i]);
        int low = digitValue(hex[i + 1]);
        if (high < 0 || low < 0) return -1;
        out += static_cast<char>(high << 4 | low);
    }
    *bytes = std::move(out);
    return 0;
}

int pwenc_DecryptStored(const char *hex, const char *phrase,
                        bool (*plausible)(const std::vector<uint8_t> &plain),
                        std::vector<uint8_t> *plain) {
    std::string cipher;
    if (pwenc_FromHex(hex, &cipher) != 0) return -1;
    if (cipher.empty()) {
        plain->clear();
        return 0;
    }
    const int length = static_cast<int>(cipher.size());
    const auto *bytes = reinterpret_cast<const uint8_t *>(cipher.data());
    std::vector<uint8_t> full(cipher.size());
    std::vector<uint8_t> base(cipher.size());
    if (pwenc_DecryptWith(bytes, length, full.data(), phrase, PWENC_KEY_FULL) == 0) return -1;
    if (!plausible(full) &&
        pwenc_DecryptWith(bytes, length, base.data(), phrase, PWENC_KEY_BASE) != 0 &&
        plausible(base))
        *plain = std::move(base);
    else
        *plain = std::move(full);
    return 0;
}

const PwencLoggerAccount &pwenc_LoggerAccount() {
    return PWENC_LOGGER_ACCOUNTS[reg_IsLumbrelEdition() ? PWENC_EDITION_LUMBREL
                                                        : PWENC_EDITION_OTHER];
}
